#pragma once
// SNMP over IPX (RFC 1420) as a Net-SNMP transport domain on the user-space
// IPX layer: agents listen on socket 0x900F, trap receivers on 0x9010. The
// domain's address strings are "vipx:NNNNNNNN:HHHHHHHHHHHH" (a peer, socket
// 0x900F unless ":SSSS" follows) and "vipx:SSSS" for a local socket (0: any).
// A transport's opaque per-datagram data is one sockaddr_ipx: the sender of a
// received datagram, the destination of one to send.

#include <cstddef>
#include <cstdint>

struct netsnmp_transport_s;

namespace snmp_ipx {

inline constexpr std::uint16_t kAgentSocket = 0x900F;
inline constexpr std::uint16_t kTrapSocket = 0x9010;
inline constexpr std::size_t kMaxMessage = 546;

// Registers the domain with Net-SNMP; once, before init_snmp.
void registerDomain();

// A local transport bound to IPX socket number `socket` of adapter 0; null
// (errno set) when the machine has no IPX or the socket is taken.
netsnmp_transport_s* openLocal(std::uint16_t socket);

// Per-datagram opaque data naming an IPX peer (network and node, 10 bytes;
// socket in host order), allocated with malloc as Net-SNMP expects.
inline constexpr int kPeerSize = 14;
void* makePeer(const unsigned char address[10], std::uint16_t socket);
// The IPX peer an opaque names; false when it is not IPX opaque data.
bool peerOf(const void* opaque, int length, unsigned char address[10], std::uint16_t& socket);

} // namespace snmp_ipx

#pragma once
// IPX datagram sockets in user space. Every IPX packet (30-byte header and its
// data) travels whole in one UDP datagram. A node is a UDP address: the IPX
// socket number s of a node is UDP port s at that address.
//
// ipx.ini in the program directory names the local adapters and the routes:
//
//   [Adapters]            adapter n is key n, counted from 0 without gaps
//   0=00000010:000000000001 127.0.0.1
//   [Routes]              network:node, or a whole network, to a UDP address
//   00000020:000000000007=127.0.0.7
//   00000030=127.0.0.8
//   Default=127.0.0.9     broadcasts and everything else
//
// Without the file, or without an adapter in it, the machine has no IPX and
// socket() fails with EAFNOSUPPORT. The calls below follow their POSIX
// namesakes: -1 and errno on failure. Descriptors are real ones that select()
// and poll() watch; a datagram that is not a well-formed IPX packet for the
// socket never reaches the caller and is counted instead.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/types.h>
#include <vector>

namespace ipx {

// The Windows Sockets numbers of the protocol and its options.
inline constexpr int kAddressFamily = 6; // AF_IPX
inline constexpr int NSPROTO_IPX = 1000; // protocol, and level of the options below
inline constexpr int IPX_ADDRESS = 0x4007;
inline constexpr int IPX_MAX_ADAPTER_NUM = 0x400D;

inline constexpr std::size_t kHeaderSize = 30;
inline constexpr std::size_t kMaxPacket = 1500; // header included
inline constexpr std::size_t kMaxData = kMaxPacket - kHeaderSize;

// Windows Sockets sockaddr_ipx: family kAddressFamily, then the address as it
// stands on the wire (socket in network byte order). 14 bytes.
struct sockaddr_ipx {
    short sa_family;
    char sa_netnum[4];
    char sa_nodenum[6];
    unsigned short sa_socket;
};
static_assert(sizeof(sockaddr_ipx) == 14);

// The option record of IPX_ADDRESS; adapternum is set by the caller. 24 bytes.
struct IPX_ADDRESS_DATA {
    int adapternum;
    unsigned char netnum[4];
    unsigned char nodenum[6];
    unsigned char wan;
    unsigned char status;
    int maxpkt;
    unsigned int linkspeed;
};
static_assert(sizeof(IPX_ADDRESS_DATA) == 24);

struct Address {
    std::uint8_t network[4]{};
    std::uint8_t node[6]{};
    std::uint16_t socket = 0; // host byte order
    bool operator==(const Address&) const = default;
};

bool isBroadcastNode(const std::uint8_t node[6]);
// "NNNNNNNN:HHHHHHHHHHHH" (any one separator character); socket 0.
std::optional<Address> parseAddress(std::string_view text);

// The header fields a packet carries.
struct Header {
    std::uint16_t checksum = 0xFFFF;
    std::uint16_t length = 0;
    std::uint8_t transportControl = 0;
    std::uint8_t packetType = 0;
    Address destination;
    Address source;
};

enum class Decode { Ok, Short, Oversized, BadLength, BadChecksum };

// A whole packet from header and data (length filled in); empty when data
// exceeds kMaxData.
std::vector<std::uint8_t> encode(Header header, const void* data, std::size_t size);
// Checks and splits one carried datagram; data points into bytes.
Decode decode(const std::uint8_t* bytes, std::size_t size, Header& header, const std::uint8_t*& data,
              std::size_t& dataSize);

// The parsed ipx.ini.
struct Config {
    struct Adapter {
        Address address; // socket 0
        std::string udpAddress;
    };
    struct Route {
        std::uint8_t network[4]{};
        std::optional<std::array<std::uint8_t, 6>> node; // none: the whole network
        std::string udpAddress;
    };
    std::vector<Adapter> adapters;
    std::vector<Route> routes;
    std::string defaultRoute; // empty: none

    static Config load(const std::string& path);
    // The UDP address to which a packet for destination goes; empty when none.
    std::string routeTo(const Address& destination) const;
};

// ipx.ini in the program directory (the directory of the running binary).
std::string configPath();

int socket(int family, int type, int protocol);
int bind(int s, const sockaddr* address, socklen_t length);
int setsockopt(int s, int level, int name, const void* value, socklen_t length);
int getsockopt(int s, int level, int name, void* value, socklen_t* length);
ssize_t sendto(int s, const void* data, std::size_t size, int flags, const sockaddr* to, socklen_t length);
ssize_t recvfrom(int s, void* data, std::size_t size, int flags, sockaddr* from, socklen_t* length);
int close(int s);
// Datagrams dropped on this socket so far.
std::uint64_t droppedDatagrams(int s);

} // namespace ipx

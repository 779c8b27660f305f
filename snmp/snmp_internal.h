#pragma once
// Entry points of the layer for its own tests and fuzz target; not part of the
// interface that the console uses.

#include "snmp/snmp.h"

#include <cstddef>
#include <cstdint>

namespace snmp_internal {

// Decodes one datagram received from fromIp:fromPort (network byte order)
// through the session's in-memory receive path and handles the message:
// informs are answered, notifications reach the registered callback. Returns
// 0 when Net-SNMP accepted the datagram, -1 when it refused it.
int processDatagram(Snmp& session, const unsigned char* data, std::size_t length, std::uint32_t fromIp,
                    std::uint16_t fromPort);

// The socket's receive buffer size as the kernel reports it.
int receiveBufferSize(const Snmp& session);

// Datagrams the receiving thread of receiveInBackground has read off the
// socket so far, queued or dropped for want of room.
std::uint64_t receivedDatagrams(const Snmp& session);

// Holds (true) or resumes the receiving thread of receiveInBackground.
void pauseReceiver(Snmp& session, bool paused);

} // namespace snmp_internal

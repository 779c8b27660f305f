#pragma once
// The whole-program tests' managed server at 127.0.0.2 sending a trap.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Net-SNMP's encoding of a v1 trap: enterprise 1.3.6.1.4.1.9999.19, specific
// trap 1001, one binding.
inline const unsigned char kV1Trap[] = {
    0x30, 0x39, 0x02, 0x01, 0x00, 0x04, 0x06, 0x70, 0x75, 0x62, 0x6c, 0x69, 0x63, 0xa4, 0x2c,
    0x06, 0x08, 0x2b, 0x06, 0x01, 0x04, 0x01, 0xce, 0x0f, 0x13, 0x40, 0x04, 0x7f, 0x00, 0x00,
    0x01, 0x02, 0x01, 0x06, 0x02, 0x02, 0x03, 0xe9, 0x43, 0x01, 0x05, 0x30, 0x10, 0x30, 0x0e,
    0x06, 0x09, 0x2b, 0x06, 0x01, 0x04, 0x01, 0xce, 0x0f, 0x01, 0x01, 0x04, 0x01, 0x78};

// Sends the trap count times from 127.0.0.2 (the managed server); how many left.
inline int sendFromServer(int count) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.2");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(162);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int sent = 0;
    if (s >= 0 && bind(s, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0)
        for (int i = 0; i < count; ++i)
            if (sendto(s, kV1Trap, sizeof kV1Trap, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0)
                ++sent;
    if (s >= 0)
        close(s);
    return sent;
}

#include "quillet/quillet.h"

#include "platform/ipx/ipx.h"
#include "platform/sound/sound.h"
#include "quillet/quillet_internal.h"

#include <cmath>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace {

constexpr int kMaxAttempts = 5;

// Waits until fd is ready for events: 1 ready, 0 timed out, -1 the wait failed.
int waitReady(int fd, short events, quillet_internal::Wait wait) {
    if (fd < 0 || wait.sec < 0 || wait.usec < 0)
        return -1;
    pollfd p{fd, events, 0};
    const timespec ts{wait.sec + wait.usec / 1000000, (wait.usec % 1000000) * 1000};
    const int rc = ppoll(&p, 1, &ts, nullptr);
    if (rc < 0)
        return -1;
    if (rc == 0)
        return 0;
    return (p.revents & events) ? 1 : -1;
}

} // namespace

CQuillet::CQuillet() {
    // POSIX sockets need no start-up.
    std::memset(m_recvBuf, 0, sizeof m_recvBuf);
    std::memset(m_sendBuf, 0, sizeof m_sendBuf);
    m_socket = ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX);
    if (m_socket < 0)
        m_socket = INVALID_SOCKET;
}

CQuillet::~CQuillet() {
    if (m_socket != INVALID_SOCKET)
        ipx::close(m_socket);
}

int CQuillet::QuilletByAddr(char* address, int attempts, float wait) {
    try {
        if (quillet_internal::isAddressText(address) && attempts >= 1 && wait >= 0.0f &&
            std::isfinite(wait)) {
            ipx::sockaddr_ipx destination;
            char socketText[] = "0456";
            if (ComposeIPXDiagPacket(&destination, address, socketText) != 1)
                return 0;
            return SendReceiveIPX(reinterpret_cast<sockaddr*>(&destination), attempts, wait);
        }
    } catch (...) {
    }
    sound::announceBell();
    return 0;
}

int CQuillet::ComposeIPXDiagPacket(ipx::sockaddr_ipx* destination, char* address, char* socketText) {
    std::memset(destination, 0, sizeof *destination);
    destination->sa_family = ipx::kAddressFamily;
    AtoH(destination->sa_netnum, address, 4);
    AtoH(destination->sa_nodenum, address + 9, 6);
    AtoH(reinterpret_cast<char*>(&destination->sa_socket), socketText, 2);
    const int on = 1; // so that a broadcast node may be used
    if (ipx::setsockopt(m_socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return -1;
    return 1;
}

int CQuillet::SendReceiveIPX(sockaddr* destination, int attempts, float wait) {
    std::memset(m_sendBuf, 0, sizeof m_sendBuf);
    const quillet_internal::Wait w = quillet_internal::waitFor(wait);
    if (attempts > kMaxAttempts)
        attempts = kMaxAttempts;
    for (int attempt = 1;; ++attempt) {
        if (waitReady(m_socket, POLLOUT, w) != 1)
            return 0;
        // Two bytes: no exclusion addresses, and a zero byte. The outcome is not examined.
        ipx::sendto(m_socket, m_sendBuf, 2, 0, destination, 16);
        const int ready = waitReady(m_socket, POLLIN, w);
        if (ready < 0)
            return 0;
        if (ready > 0)
            return ipx::recvfrom(m_socket, m_recvBuf, sizeof m_recvBuf, MSG_DONTWAIT, nullptr, nullptr) >= 0
                       ? 1
                       : 0;
        if (attempt >= attempts)
            return 0;
    }
}

void CQuillet::AtoH(char* output, char* input, int n) {
    for (int i = 0; i < n; ++i)
        output[i] = static_cast<char>(BtoH(input[2 * i]) << 4 | BtoH(input[2 * i + 1]));
}

unsigned char CQuillet::BtoH(char digit) {
    if (digit >= '0' && digit <= '9')
        return static_cast<unsigned char>(digit - '0');
    if (digit >= 'A' && digit <= 'F')
        return static_cast<unsigned char>(digit - 'A' + 10);
    if (digit >= 'a' && digit <= 'f')
        return static_cast<unsigned char>(digit - 'a' + 10);
    return 0;
}

void CQuillet::HtoA(char* output, char* input, int n) {
    for (int i = 0; i < n; ++i) {
        const auto byte = static_cast<unsigned char>(input[i]);
        output[2 * i] = BtoA(static_cast<char>(byte >> 4));
        output[2 * i + 1] = BtoA(static_cast<char>(byte & 0x0F));
    }
}

char CQuillet::BtoA(char nibble) {
    if (nibble >= 0 && nibble <= 9)
        return static_cast<char>('0' + nibble);
    if (nibble >= 10 && nibble <= 15)
        return static_cast<char>('A' + nibble - 10);
    return '\0';
}

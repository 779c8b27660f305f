#include "platform/ipx/sap.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <poll.h>

namespace ipx::sap {

namespace {

constexpr std::uint16_t kGeneralQuery = 1;
constexpr std::uint16_t kGeneralResponse = 2;
constexpr std::size_t kEntry = 64;
constexpr std::size_t kName = 48;
constexpr std::uint16_t kUnreachable = 16;

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// false when found asked to stop.
bool readResponse(const std::uint8_t* data, std::size_t size, std::uint16_t type,
                  const std::function<bool(const Service&)>& found) {
    if (size < 2 || get16(data) != kGeneralResponse)
        return true;
    for (std::size_t at = 2; at + kEntry <= size; at += kEntry) {
        const std::uint8_t* e = data + at;
        Service s;
        s.type = get16(e);
        const char* name = reinterpret_cast<const char*>(e + 2);
        s.name.assign(name, strnlen(name, kName));
        std::memcpy(s.address.network, e + 2 + kName, 4);
        std::memcpy(s.address.node, e + 2 + kName + 4, 6);
        s.address.socket = get16(e + 2 + kName + 10);
        s.hops = get16(e + 2 + kName + 12);
        if ((type != 0xFFFF && s.type != type) || s.name.empty() || s.hops >= kUnreachable)
            continue;
        if (!found(s))
            return false;
    }
    return true;
}

} // namespace

int generalQuery(std::uint16_t type, int queries, std::chrono::milliseconds wait,
                 const std::function<bool(const Service&)>& found) {
    const int fd = ipx::socket(kAddressFamily, SOCK_DGRAM, NSPROTO_IPX);
    if (fd < 0)
        return -1;
    struct Closer {
        int fd;
        ~Closer() { ipx::close(fd); }
    } closer{fd};
    sockaddr_ipx any{};
    any.sa_family = kAddressFamily;
    ipx::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    const int on = 1;
    if (ipx::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return -1;
    sockaddr_ipx to{};
    to.sa_family = kAddressFamily;
    std::memset(to.sa_nodenum, 0xFF, sizeof to.sa_nodenum);
    to.sa_socket = htons(kSocket);
    const std::uint8_t query[] = {0, kGeneralQuery, static_cast<std::uint8_t>(type >> 8),
                                  static_cast<std::uint8_t>(type)};
    std::uint8_t answer[kMaxData];
    for (int q = 0; q < queries; ++q) {
        if (ipx::sendto(fd, query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
            return -1;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd, POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR)
                return -1;
            if (ready <= 0)
                continue;
            const ssize_t n = ipx::recvfrom(fd, answer, sizeof answer, MSG_DONTWAIT, nullptr, nullptr);
            if (n > 0 && !readResponse(answer, static_cast<std::size_t>(n), type, found))
                return 0;
        }
    }
    return 0;
}

} // namespace ipx::sap

// The IPX half of the host address library, on the IPX layer.

#include "hostlore.h"
#include "ipx.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <strings.h>

namespace {

constexpr std::uint16_t kSapSocket = 0x0452;
constexpr std::uint16_t kGeneralQuery = 1;
constexpr std::uint16_t kGeneralResponse = 2;
constexpr std::uint16_t kFileServer = 4;
constexpr std::size_t kSapEntry = 64;
constexpr std::size_t kSapName = 48;
// Two queries, each followed by this wait for the answers.
constexpr int kSapQueries = 2;
constexpr auto kSapWait = std::chrono::milliseconds(750);

// An IPX datagram socket, closed on scope exit.
class IpxSocket {
public:
    IpxSocket() : m_fd(ipx::socket(ipx::kAddressFamily, SOCK_DGRAM, ipx::NSPROTO_IPX)) {}
    ~IpxSocket() {
        if (m_fd >= 0)
            ipx::close(m_fd);
    }
    IpxSocket(const IpxSocket&) = delete;
    IpxSocket& operator=(const IpxSocket&) = delete;
    int fd() const { return m_fd; }

    // Binds to the all-zero address; the outcome does not matter to the callers.
    void bindAnywhere() {
        ipx::sockaddr_ipx any{};
        any.sa_family = ipx::kAddressFamily;
        ipx::bind(m_fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    }

    bool adapterAddress(int adapter, ipx::IPX_ADDRESS_DATA& data) {
        std::memset(&data, 0, sizeof data);
        data.adapternum = adapter;
        socklen_t length = sizeof data;
        return ipx::getsockopt(m_fd, ipx::NSPROTO_IPX, ipx::IPX_ADDRESS, &data, &length) == 0;
    }

private:
    int m_fd;
};

void formatLocal(const ipx::IPX_ADDRESS_DATA& d, char separator, char* out) {
    std::snprintf(out, HOSTLORE_IPX_SIZE, "%2.2hX%2.2hX%2.2hX%2.2hX%c%2.2hX%2.2hX%2.2hX%2.2hX%2.2hX%2.2hX",
                  static_cast<unsigned short>(d.netnum[0]), static_cast<unsigned short>(d.netnum[1]),
                  static_cast<unsigned short>(d.netnum[2]), static_cast<unsigned short>(d.netnum[3]),
                  separator, static_cast<unsigned short>(d.nodenum[0]),
                  static_cast<unsigned short>(d.nodenum[1]), static_cast<unsigned short>(d.nodenum[2]),
                  static_cast<unsigned short>(d.nodenum[3]), static_cast<unsigned short>(d.nodenum[4]),
                  static_cast<unsigned short>(d.nodenum[5]));
}

// Looks for serverName in one SAP response; true, with the server's address
// written in the server form, when it lists it as a file server.
bool findInResponse(const unsigned char* data, std::size_t size, const char* serverName, char* out) {
    if (size < 2 || (data[0] << 8 | data[1]) != kGeneralResponse)
        return false;
    for (std::size_t at = 2; at + kSapEntry <= size; at += kSapEntry) {
        const unsigned char* e = data + at;
        if ((e[0] << 8 | e[1]) != kFileServer)
            continue;
        char name[kSapName + 1]{};
        std::memcpy(name, e + 2, kSapName);
        if (strcasecmp(name, serverName) != 0)
            continue;
        const unsigned char* a = e + 2 + kSapName;
        std::snprintf(out, HOSTLORE_IPX_SIZE, "%02X%02X%02X%02X-%02X%02X%02X%02X%02X%02X", a[0], a[1], a[2],
                      a[3], a[4], a[5], a[6], a[7], a[8], a[9]);
        return true;
    }
    return false;
}

} // namespace

extern "C" {

int DLLGetIpxAddress(char* buffer) {
    IpxSocket s;
    if (s.fd() < 0 || !buffer)
        return HOSTLORE_IPX_FAILED;
    s.bindAnywhere();
    int count = 0;
    socklen_t length = sizeof count;
    if (ipx::getsockopt(s.fd(), ipx::NSPROTO_IPX, ipx::IPX_MAX_ADAPTER_NUM, &count, &length) != 0 ||
        count < 1)
        return HOSTLORE_IPX_FAILED;
    char text[HOSTLORE_IPX_SIZE];
    for (int adapter = count - 1; adapter >= 0; --adapter) {
        ipx::IPX_ADDRESS_DATA data;
        if (!s.adapterAddress(adapter, data))
            return HOSTLORE_IPX_FAILED;
        formatLocal(data, '.', text);
    }
    std::memcpy(buffer, text, sizeof text);
    return HOSTLORE_OK;
}

int DLLGetIpxAddressForNWTrapDestination(char* buffer) {
    IpxSocket s;
    if (s.fd() < 0 || !buffer)
        return HOSTLORE_IPX_FAILED;
    s.bindAnywhere();
    ipx::IPX_ADDRESS_DATA data;
    if (!s.adapterAddress(0, data))
        return HOSTLORE_IPX_FAILED;
    formatLocal(data, ':', buffer);
    return HOSTLORE_OK;
}

// A SAP general service query for file servers, broadcast on this network;
// the first answer that lists serverName gives its address. No answer that
// lists it: 0 with the buffer untouched.
int DLLGetServerIPXAddress(const char* serverName, char* buffer) {
    IpxSocket s;
    if (s.fd() < 0 || !serverName || !buffer)
        return HOSTLORE_IPX_FAILED;
    s.bindAnywhere();
    const int on = 1;
    if (ipx::setsockopt(s.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return HOSTLORE_IPX_FAILED;
    ipx::sockaddr_ipx to{};
    to.sa_family = ipx::kAddressFamily;
    std::memset(to.sa_nodenum, 0xFF, sizeof to.sa_nodenum);
    to.sa_socket = htons(kSapSocket);
    const unsigned char query[] = {0, kGeneralQuery, 0, kFileServer};
    unsigned char answer[ipx::kMaxData];
    for (int q = 0; q < kSapQueries; ++q) {
        if (ipx::sendto(s.fd(), query, sizeof query, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) <
            0)
            return HOSTLORE_IPX_FAILED;
        const auto deadline = std::chrono::steady_clock::now() + kSapWait;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{s.fd(), POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno != EINTR)
                return HOSTLORE_IPX_FAILED;
            if (ready <= 0)
                continue;
            const ssize_t n = ipx::recvfrom(s.fd(), answer, sizeof answer, MSG_DONTWAIT, nullptr, nullptr);
            char text[HOSTLORE_IPX_SIZE];
            if (n > 0 && findInResponse(answer, static_cast<std::size_t>(n), serverName, text)) {
                std::memcpy(buffer, text, sizeof text);
                return HOSTLORE_OK;
            }
        }
    }
    return HOSTLORE_OK;
}

} // extern "C"

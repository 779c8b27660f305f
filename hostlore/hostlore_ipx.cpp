// The IPX half of the host address library, on the IPX layer.

#include "hostlore/hostlore.h"
#include "platform/ipx/ipx.h"
#include "platform/ipx/sap.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

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
    if (!serverName || !buffer)
        return HOSTLORE_IPX_FAILED;
    const auto found = [&](const ipx::sap::Service& s) {
        if (strcasecmp(s.name.c_str(), serverName) != 0)
            return true;
        const std::uint8_t* n = s.address.network;
        const std::uint8_t* a = s.address.node;
        std::snprintf(buffer, HOSTLORE_IPX_SIZE, "%02X%02X%02X%02X-%02X%02X%02X%02X%02X%02X", n[0], n[1],
                      n[2], n[3], a[0], a[1], a[2], a[3], a[4], a[5]);
        return false;
    };
    return ipx::sap::generalQuery(ipx::sap::kFileServer, kSapQueries, kSapWait, found) == 0
               ? HOSTLORE_OK
               : HOSTLORE_IPX_FAILED;
}

} // extern "C"

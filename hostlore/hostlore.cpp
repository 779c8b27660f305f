#include "hostlore/hostlore.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

bool isLoopback(in_addr address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

// Writes the dotted form of address, at most HOSTLORE_IP_SIZE bytes.
int writeDotted(in_addr address, char* buffer) {
    static_assert(INET_ADDRSTRLEN <= HOSTLORE_IP_SIZE);
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &address, text, sizeof text))
        return HOSTLORE_NO_ADDRESS;
    std::memcpy(buffer, text, std::strlen(text) + 1);
    return HOSTLORE_OK;
}

// The first IPv4 address name resolves to, in the resolver's own order (the
// host entry, as listed; getaddrinfo would re-sort it); loopback addresses are
// passed over when skipLoopback is set.
std::optional<in_addr> resolve(const char* name, bool skipLoopback) {
    if (!name || !*name)
        return std::nullopt;
    hostent entry{};
    hostent* result = nullptr;
    int error = 0;
    std::vector<char> work(1024);
    while (gethostbyname2_r(name, AF_INET, &entry, work.data(), work.size(), &result, &error) == ERANGE &&
           work.size() < (1u << 20))
        work.resize(work.size() * 2);
    if (!result || result->h_addrtype != AF_INET || result->h_length != sizeof(in_addr) ||
        !result->h_addr_list)
        return std::nullopt;
    for (char** a = result->h_addr_list; *a; ++a) {
        in_addr address{};
        std::memcpy(&address, *a, sizeof address);
        if (!skipLoopback || !isLoopback(address))
            return address;
    }
    return std::nullopt;
}

// The first IPv4 address, other than loopback and 0.0.0.0, of an interface that is up.
std::optional<in_addr> firstInterfaceAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::nullopt;
    std::optional<in_addr> found;
    for (const ifaddrs* ifa = list; ifa && !found; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK))
            continue;
        const in_addr address = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr;
        if (address.s_addr != htonl(INADDR_ANY) && !isLoopback(address))
            found = address;
    }
    freeifaddrs(list);
    return found;
}

} // namespace

extern "C" {

// POSIX sockets need no start-up.
int DLLInitHostInfo(void) {
    return HOSTLORE_OK;
}

int DLLGetHostName(char* buffer) {
    if (!buffer)
        return -1;
    return gethostname(buffer, HOSTLORE_HOST_NAME_SIZE);
}

int DLLGetIpAddress(char* buffer) {
    if (!buffer)
        return HOSTLORE_NO_ADDRESS;
    // The host name often maps to a loopback address (Debian: 127.0.1.1), which is
    // no use to the servers this address is sent to; the interfaces know better.
    char name[HOSTLORE_HOST_NAME_SIZE];
    std::optional<in_addr> address;
    if (gethostname(name, sizeof name) == 0) {
        name[sizeof name - 1] = '\0';
        address = resolve(name, true);
    }
    if (!address)
        address = firstInterfaceAddress();
    if (!address)
        return HOSTLORE_NO_ADDRESS;
    return writeDotted(*address, buffer);
}

int DLLGetIpAddressFromHostname(const char* hostName, char* buffer) {
    if (!buffer)
        return HOSTLORE_NO_ADDRESS;
    const std::optional<in_addr> address = resolve(hostName, false);
    if (!address)
        return HOSTLORE_NO_ADDRESS;
    return writeDotted(*address, buffer);
}

} // extern "C"

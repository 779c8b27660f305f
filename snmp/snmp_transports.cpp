// Library start-up and the sockets of a session: IPv4, IPv6 and IPX
// transports, each a Net-SNMP session sharing the callbacks.

#include "snmp/snmp_internal.h"
#include "snmp/snmp_ipx.h"
#include "snmp/snmp_session_impl.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <net-snmp/library/snmpUDPIPv6Domain.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace snmp_detail;

namespace {

constexpr int kReceiveBuffer = 8 * 1024 * 1024;

std::atomic<bool> g_initialised{false};

} // namespace

namespace snmp_detail {

std::mutex& sessionMutex() {
    static std::mutex m;
    return m;
}

} // namespace snmp_detail

int snmpInit() {
    static const int result = [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_LOAD_HOST_FILES, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_V3, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_PRINT_NUMERIC_OIDS, 1);
        // Net-SNMP would otherwise write a line to standard error for every
        // malformed datagram that anyone sends to the port.
        netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
        // No MIB directory and an empty module list: nothing is parsed.
        netsnmp_set_mib_directory("");
        static char noMibs[] = "mibs :";
        netsnmp_config_remember(noMibs);
        init_snmp("vardel");
        snmp_ipx::registerDomain();
        g_initialised = true;
        return 0;
    }();
    return result;
}

// A datagram session over an opened transport, with the large receive
// buffer and the callbacks every socket of the session shares.
static void* addSession(netsnmp_transport* transport, Snmp::Impl* impl) {
    int big = kReceiveBuffer;
    if (setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    netsnmp_session session;
    snmp_sess_init(&session);
    session.retries = 0;
    session.timeout = 1000000;
    session.callback = &Snmp::Impl::onMessage;
    session.callback_magic = impl;
    session.flags |= SNMP_FLAGS_DONT_PROBE;
    return snmp_sess_add(&session, transport, nullptr, &Snmp::Impl::takeAnswer);
}

int Snmp::Impl::open(std::uint16_t localPort) {
    if (!g_initialised)
        return kSnmpResourceUnavailable;
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0)
        return kSnmpResourceUnavailable;

    netsnmp_ep ep{};
    ep.a.sin.sin_family = AF_INET;
    ep.a.sin.sin_addr.s_addr = htonl(INADDR_ANY);
    ep.a.sin.sin_port = htons(localPort);

    std::lock_guard<std::mutex> lock(sessionMutex());
    netsnmp_transport* transport = netsnmp_udp_transport(&ep, 1);
    if (transport == nullptr) {
        // Tell a port in use or denied from other failures with a plain bind of the same address.
        int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int result = kSnmpTransportFailed;
        if (probe >= 0) {
            if (bind(probe, reinterpret_cast<const sockaddr*>(&ep.a.sin), sizeof ep.a.sin) != 0) {
                if (errno == EADDRINUSE)
                    result = kSnmpTransportInUse;
                else if (errno == EACCES)
                    result = kSnmpTransportAccessDenied;
            }
            close(probe);
        }
        return result;
    }
    sessp = addSession(transport, this);
    if (sessp == nullptr)
        return kSnmpTransportFailed;
    fd = transport->sock;
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        port = ntohs(bound.sin_port);
    netsnmp_large_fd_set_init(&fdset, fd + 1);
    fdsetReady = true;
    return kSnmpSuccess;
}

// A second Net-SNMP session on the IPX transport; none (IPX requests are then
// lost attempts) when the machine has no IPX or the socket is taken.
void Snmp::Impl::openIpx(std::uint16_t socket) {
    std::lock_guard<std::mutex> lock(sessionMutex());
    netsnmp_transport* transport = snmp_ipx::openLocal(socket);
    if (transport == nullptr)
        return;
    netsnmp_session session;
    snmp_sess_init(&session);
    session.retries = 0;
    session.timeout = 1000000;
    session.callback = &Impl::onMessage;
    session.callback_magic = this;
    session.flags |= SNMP_FLAGS_DONT_PROBE;
    session.sndMsgMaxSize = snmp_ipx::kMaxMessage;
    session.rcvMsgMaxSize = snmp_ipx::kMaxMessage;
    // The same room as the UDP socket for a whole cycle's answers.
    int big = kReceiveBuffer;
    if (setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    ipxSessp = snmp_sess_add(&session, transport, nullptr, &Impl::takeAnswer);
    if (ipxSessp != nullptr)
        ipxFd = transport->sock;
}

// The IPv6 socket beside the IPv4 one, on the same port: Net-SNMP binds it
// IPv6-only, so both are needed to hear both families.
void Snmp::Impl::openUdp6(std::uint16_t localPort) {
    netsnmp_ep ep{};
    ep.a.sin6.sin6_family = AF_INET6;
    ep.a.sin6.sin6_addr = in6addr_any;
    ep.a.sin6.sin6_port = htons(localPort);
    std::lock_guard<std::mutex> lock(sessionMutex());
    netsnmp_transport* transport = netsnmp_udp6_transport(&ep, 1);
    if (transport == nullptr) {
        // Why, from a plain socket bound the same way.
        int probe = socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (probe < 0) {
            udp6Status = errno == EAFNOSUPPORT ? kSnmpUnsupported : kSnmpTransportFailed;
            return;
        }
        const int one = 1;
        setsockopt(probe, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        udp6Status = kSnmpTransportFailed;
        if (bind(probe, reinterpret_cast<const sockaddr*>(&ep.a.sin6), sizeof ep.a.sin6) != 0) {
            if (errno == EADDRINUSE)
                udp6Status = kSnmpTransportInUse;
            else if (errno == EACCES)
                udp6Status = kSnmpTransportAccessDenied;
            else if (errno == EADDRNOTAVAIL || errno == EAFNOSUPPORT)
                udp6Status = kSnmpUnsupported;
        }
        close(probe);
        return;
    }
    udp6Sessp = addSession(transport, this);
    if (udp6Sessp == nullptr) {
        udp6Status = kSnmpTransportFailed;
        return;
    }
    udp6Fd = transport->sock;
    udp6Status = kSnmpSuccess;
}

void Snmp::Impl::readUdp6() {
    netsnmp_large_fd_set set;
    netsnmp_large_fd_set_init(&set, udp6Fd + 1);
    NETSNMP_LARGE_FD_SET(udp6Fd, &set);
    snmp_sess_read2(udp6Sessp, &set);
    netsnmp_large_fd_set_cleanup(&set);
    sendRetries();
    dispatch();
}

void Snmp::Impl::readIpx() {
    netsnmp_large_fd_set set;
    netsnmp_large_fd_set_init(&set, ipxFd + 1);
    NETSNMP_LARGE_FD_SET(ipxFd, &set);
    {
        auto lock = usmLock();
        snmp_sess_read2(ipxSessp, &set);
    }
    netsnmp_large_fd_set_cleanup(&set);
    sendRetries();
    dispatch();
}

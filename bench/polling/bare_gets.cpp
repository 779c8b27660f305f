// The same poll without the console: one Net-SNMP session, one unconnected UDP
// socket, a GET of 1.3.6.1.2.1.1.2 to each of count loopback agents
// (127.1.0.1 upwards, port 161), all outstanding at once.
//
//   bench_poll_bare [count] [retry] [timeout hundredths]

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
// Net-SNMP's headers need its configuration header first.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/snmpIPBaseDomain.h>
#include <net-snmp/library/snmpUDPDomain.h>
// clang-format on

namespace {

int g_answered = 0;
int g_timedOut = 0;

int onAnswer(int op, netsnmp_session*, int, netsnmp_pdu*, void*) {
    if (op == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE)
        ++g_answered;
    else if (op == NETSNMP_CALLBACK_OP_TIMED_OUT)
        ++g_timedOut;
    return 1; // a RESEND is not a completion; it never reaches here as one
}

in_addr_t agent(int i) {
    return htonl((127u << 24) | (1u << 16) | static_cast<unsigned>(i + 1));
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int retry = argc > 2 ? std::atoi(argv[2]) : 7;
    const long timeout = argc > 3 ? std::atol(argv[3]) : 800;
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_set_mib_directory("");
    init_snmp("bench");

    netsnmp_ep ep{};
    ep.a.sin.sin_family = AF_INET;
    netsnmp_transport* transport = netsnmp_udp_transport(&ep, 1);
    if (transport == nullptr)
        return 1;
    // The receive buffer the console's session has: the answers to a whole
    // burst wait in it.
    int big = 8 * 1024 * 1024;
    if (setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        setsockopt(transport->sock, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_1;
    settings.community = reinterpret_cast<u_char*>(const_cast<char*>("public"));
    settings.community_len = 6;
    settings.retries = retry;
    settings.timeout = timeout * 10000;
    void* session = snmp_sess_add(&settings, transport, nullptr, nullptr);
    if (session == nullptr)
        return 1;
    const oid sysObjectId[] = {1, 3, 6, 1, 2, 1, 1, 2};

    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GET);
        snmp_add_null_var(pdu, sysObjectId, OID_LENGTH(sysObjectId));
        auto* pair = static_cast<netsnmp_indexed_addr_pair*>(calloc(1, sizeof(netsnmp_indexed_addr_pair)));
        pair->remote_addr.sin.sin_family = AF_INET;
        pair->remote_addr.sin.sin_addr.s_addr = agent(i);
        pair->remote_addr.sin.sin_port = htons(161);
        pdu->transport_data = pair;
        pdu->transport_data_length = sizeof *pair;
        if (snmp_sess_async_send(session, pdu, onAnswer, nullptr) == 0)
            snmp_free_pdu(pdu);
    }
    while (g_answered + g_timedOut < count) {
        int fds = 0;
        int block = 1;
        fd_set readable;
        FD_ZERO(&readable);
        timeval tv{};
        snmp_sess_select_info(session, &fds, &readable, &tv, &block);
        const int n = select(fds, &readable, nullptr, nullptr, block ? nullptr : &tv);
        if (n > 0)
            snmp_sess_read(session, &readable);
        else
            snmp_sess_timeout(session);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "bare Net-SNMP: %d GETs from one session: %d answered, %d timed out in %.3f s = %.0f GETs/s\n", count,
        g_answered, g_timedOut, seconds, count / seconds);
    snmp_sess_close(session);
    return g_answered == count ? 0 : 2;
}

// The same poll without the console: one Net-SNMP session, one unconnected UDP
// socket, a GET of 1.3.6.1.2.1.1.2 to each of count loopback agents
// (127.1.0.1 upwards, port 161), all outstanding at once.
//
//   bench_poll_bare [count] [retry] [timeout hundredths] [v3]
//
// v3: SNMPv3 authPriv (user bench, SHA-256 / AES-128) to the engine
// 800007e580626e6368, known beforehand (no discovery).

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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
    const bool v3 = argc > 4 && std::string(argv[4]) == "v3";
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
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
    static u_char engine[] = {0x80, 0x00, 0x07, 0xe5, 0x80, 0x62, 0x6e, 0x63, 0x68};
    if (v3) {
        // The user comes from the session's pass phrases (usm_create_user_from_session).
        settings.version = SNMP_VERSION_3;
        settings.securityName = const_cast<char*>("bench");
        settings.securityNameLen = 5;
        settings.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
        settings.securityModel = SNMP_SEC_MODEL_USM;
        settings.securityEngineID = engine;
        settings.securityEngineIDLen = sizeof engine;
        settings.contextEngineID = engine;
        settings.contextEngineIDLen = sizeof engine;
        settings.securityAuthProto = usmHMAC192SHA256AuthProtocol;
        settings.securityAuthProtoLen = 10;
        settings.securityAuthKeyLen = USM_AUTH_KU_LEN;
        const char* authPass = "benchpass123";
        const char* privPass = "benchpriv123";
        generate_Ku(settings.securityAuthProto, 10, reinterpret_cast<const u_char*>(authPass),
                    strlen(authPass), settings.securityAuthKey, &settings.securityAuthKeyLen);
        settings.securityPrivProto = usmAESPrivProtocol;
        settings.securityPrivProtoLen = 10;
        settings.securityPrivKeyLen = USM_PRIV_KU_LEN;
        generate_Ku(settings.securityAuthProto, 10, reinterpret_cast<const u_char*>(privPass),
                    strlen(privPass), settings.securityPrivKey, &settings.securityPrivKeyLen);
        settings.flags |= SNMP_FLAGS_DONT_PROBE;
    }
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

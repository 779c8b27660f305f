#define snmp_callback netsnmp_snmp_callback
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#undef snmp_callback

#include "bench/traps/trap_sender.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
const oid kEnterprise[] = {1, 3, 6, 1, 4, 1, 9999};
const oid kBinding[] = {1, 3, 6, 1, 4, 1, 9999, 1, 1};
} // namespace

double sendBurst(int count, int& sent, double rate) {
    netsnmp_session s;
    snmp_sess_init(&s);
    s.version = SNMP_VERSION_1;
    s.peername = const_cast<char*>("udp:127.0.0.1:162");
    s.community = reinterpret_cast<u_char*>(const_cast<char*>("public"));
    s.community_len = 6;
    void* sessp = snmp_sess_open(&s);
    sent = 0;
    if (sessp == nullptr)
        return 0;
    auto start = Clock::now();
    for (int i = 1; i <= count; ++i) {
        netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP);
        pdu->enterprise = static_cast<oid*>(malloc(sizeof kEnterprise));
        memcpy(pdu->enterprise, kEnterprise, sizeof kEnterprise);
        pdu->enterprise_length = OID_LENGTH(kEnterprise);
        pdu->trap_type = SNMP_TRAP_ENTERPRISESPECIFIC;
        pdu->specific_type = 1 + (i - 1) % kTrapKinds;
        pdu->time = static_cast<u_long>(i);
        in_addr_t agent = htonl(INADDR_LOOPBACK);
        memcpy(pdu->agent_addr, &agent, 4);
        const char text[] = "disk almost full on volume SYS";
        snmp_pdu_add_variable(pdu, kBinding, OID_LENGTH(kBinding), ASN_OCTET_STR, text, sizeof text - 1);
        if (snmp_sess_send(sessp, pdu) == 0)
            snmp_free_pdu(pdu);
        else
            ++sent;
        if (rate > 0 && i % 100 == 0)
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(i / rate)));
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    snmp_sess_close(sessp);
    return seconds;
}

int countLinesStartingWith(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0)
            ++n;
    return n;
}

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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

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

namespace {

void paceTo(Clock::time_point start, int i, double rate) {
    if (rate > 0 && i % 100 == 0)
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(i / rate)));
}

// The child's burst: v2c with community public, or v3 as forkSender says.
double sendNotifications(int count, int& sent, double rate, bool v3) {
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_set_mib_directory("");
    init_snmp("vardel-bench-sender");
    netsnmp_session s;
    snmp_sess_init(&s);
    s.peername = const_cast<char*>("udp:127.0.0.1:162");
    u_char engine[32];
    size_t engineLength = 0;
    u_char authKey[USM_AUTH_KU_LEN];
    u_char privKey[USM_PRIV_KU_LEN];
    if (v3) {
        s.version = SNMP_VERSION_3;
        s.securityName = const_cast<char*>(kBenchUser);
        s.securityNameLen = std::strlen(kBenchUser);
        s.securityLevel = SNMP_SEC_LEVEL_AUTHPRIV;
        s.securityAuthProto = usmHMAC192SHA256AuthProtocol;
        s.securityAuthProtoLen = OID_LENGTH(usmHMAC192SHA256AuthProtocol);
        s.securityPrivProto = usmAESPrivProtocol;
        s.securityPrivProtoLen = OID_LENGTH(usmAESPrivProtocol);
        s.securityAuthKeyLen = sizeof authKey;
        s.securityPrivKeyLen = sizeof privKey;
        auto* phrase = reinterpret_cast<u_char*>(const_cast<char*>(kBenchAuthPhrase));
        auto* privPhrase = reinterpret_cast<u_char*>(const_cast<char*>(kBenchPrivPhrase));
        if (generate_Ku(s.securityAuthProto, static_cast<u_int>(s.securityAuthProtoLen), phrase,
                        std::strlen(kBenchAuthPhrase), authKey, &s.securityAuthKeyLen) != SNMPERR_SUCCESS ||
            generate_Ku(s.securityAuthProto, static_cast<u_int>(s.securityAuthProtoLen), privPhrase,
                        std::strlen(kBenchPrivPhrase), privKey, &s.securityPrivKeyLen) != SNMPERR_SUCCESS)
            return 0;
        std::memcpy(s.securityAuthKey, authKey, s.securityAuthKeyLen);
        std::memcpy(s.securityPrivKey, privKey, s.securityPrivKeyLen);
        const char* hex = kBenchEngine;
        for (; hex[0] != 0 && hex[1] != 0 && engineLength < sizeof engine; hex += 2)
            engine[engineLength++] =
                static_cast<u_char>(std::strtol(std::string(hex, 2).c_str(), nullptr, 16));
        s.securityEngineID = engine;
        s.securityEngineIDLen = engineLength;
    } else {
        s.version = SNMP_VERSION_2c;
        s.community = reinterpret_cast<u_char*>(const_cast<char*>("public"));
        s.community_len = 6;
    }
    void* sessp = snmp_sess_open(&s);
    sent = 0;
    if (sessp == nullptr)
        return 0;
    static const oid sysUpTime[] = {1, 3, 6, 1, 2, 1, 1, 3, 0};
    static const oid trapOid[] = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
    const char text[] = "disk almost full on volume SYS";
    auto start = Clock::now();
    for (int i = 1; i <= count; ++i) {
        netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_TRAP2);
        const auto ticks = static_cast<u_long>(i);
        snmp_pdu_add_variable(pdu, sysUpTime, OID_LENGTH(sysUpTime), ASN_TIMETICKS, &ticks, sizeof ticks);
        oid id[] = {1, 3, 6, 1, 4, 1, 9999, 0, static_cast<oid>(1 + (i - 1) % kTrapKinds)};
        snmp_pdu_add_variable(pdu, trapOid, OID_LENGTH(trapOid), ASN_OBJECT_ID, id, sizeof id);
        snmp_pdu_add_variable(pdu, kBinding, OID_LENGTH(kBinding), ASN_OCTET_STR, text, sizeof text - 1);
        if (snmp_sess_send(sessp, pdu) == 0)
            snmp_free_pdu(pdu);
        else
            ++sent;
        paceTo(start, i, rate);
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    snmp_sess_close(sessp);
    return seconds;
}

struct BurstResult {
    int sent;
    double seconds;
};

} // namespace

ChildBurst forkSender(int count, double rate, bool v3) {
    int start[2];
    int result[2];
    ChildBurst child;
    if (pipe(start) != 0 || pipe(result) != 0)
        return child;
    const pid_t pid = fork();
    if (pid == 0) {
        close(start[1]);
        close(result[0]);
        char go = 0;
        if (read(start[0], &go, 1) != 1)
            _exit(1);
        BurstResult r{0, 0};
        r.seconds = sendNotifications(count, r.sent, rate, v3);
        _exit(write(result[1], &r, sizeof r) == sizeof r ? 0 : 1);
    }
    close(start[0]);
    close(result[1]);
    child.pid = pid;
    child.startFd = start[1];
    child.resultFd = result[0];
    return child;
}

double runChildBurst(ChildBurst& child, int& sent) {
    sent = 0;
    BurstResult r{0, 0};
    const char go = 1;
    if (child.pid > 0 && write(child.startFd, &go, 1) == 1 && read(child.resultFd, &r, sizeof r) == sizeof r)
        sent = r.sent;
    close(child.startFd);
    close(child.resultFd);
    if (child.pid > 0)
        waitpid(child.pid, nullptr, 0);
    child = ChildBurst{};
    return r.seconds;
}

std::string makeBurstProgramDir() {
    char dirTemplate[] = "/tmp/vardel-bench-XXXXXX";
    const std::string dir = std::string(mkdtemp(dirTemplate)) + "/";
    std::ofstream(dir + "VDTrap.ini")
        << "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=vd.ini\r\n";
    {
        std::ofstream def(dir + "vd.ini");
        for (int i = 1; i <= kTrapKinds; ++i)
            def << "[1.3.6.1.4.1.9999." << i << "]\r\nTrapString=Volume trap " << i
                << "\r\nAlarmString=Volume alert: %1\r\nSeverity=WARNING\r\n";
    }
    std::ofstream(dir + "rlaweb.ini") << "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nSRV1=1\r\n"
                                         "[SRV1]\r\nNOS=NT\r\nIP=127.0.0.1\r\nSNMP_COMMUNITY=public\r\n";
    return dir;
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

// A datagram as it reaches port 162, decoded by the session's path, and the
// trap record built from what comes out. Any record must fit its fields.
//
// Without corpus arguments the target works in a corpus directory of the
// build tree, seeded from real trap datagrams (seeds/).

#include "snmp/snmp.h"
#include "snmp/snmp_internal.h"
#include "vardel/alerts/trap_listener.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

Snmp* g_session = nullptr;
TrapRegistration* g_registration = nullptr;

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool inspect(std::unique_ptr<AlertRecord> record) {
    check(record->origin == kOriginTrap);
    check(record->bindingCount >= 0 && record->bindingCount <= kMaxBindings);
    check(record->enterprise.size() < alert_width::kEnterprise);
    check(record->trapKey.size() < alert_width::kTrapKey);
    check(record->agentAddress == "127.0.0.1");
    for (const AlertBinding& b : record->bindings) {
        check(b.oid.size() < alert_width::kBindingOid);
        check(b.value.size() < alert_width::kBindingValue);
        if (b.syntax == sNMP_SYNTAX_OCTETS)
            check(std::memchr(b.value.data(), 0, b.value.size()) == nullptr);
    }
    check(record->trapKey.rfind(record->enterprise + ".", 0) == 0);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    bool haveCorpus = false;
    for (int i = 1; i < *argc; ++i)
        if ((*argv)[i][0] != '-')
            haveCorpus = true;
    if (!haveCorpus) {
        static std::vector<char*> args((*argv), (*argv) + *argc);
        static std::string corpus = VARDEL_FUZZ_CORPUS;
        static std::string seeds = VARDEL_FUZZ_SEEDS;
        mkdir(corpus.c_str(), 0755);
        args.push_back(corpus.data());
        args.push_back(seeds.data());
        args.push_back(nullptr);
        *argc = static_cast<int>(args.size()) - 1;
        *argv = args.data();
    }

    if (snmpInit() != 0)
        std::abort();
    int status = kSnmpError;
    g_session = new Snmp(status, 0);
    if (status != kSnmpSuccess)
        std::abort();
    g_registration = new TrapRegistration;
    for (const char* e : {"1.3.6.1.4.1.9999", "1.3.6.1.4.1.42"}) {
        g_registration->registered.push_back(e);
        g_registration->suffixed.push_back(std::string(e) + ".19");
    }
    g_registration->sink = inspect;
    OidCollection ids; // every notification reaches the callback
    if (g_session->notify_register(ids, TargetCollection(), OnTrapNotification, g_registration) != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Informs are answered to the session's own socket, so nothing leaves the host.
    snmp_internal::processDatagram(*g_session, data, size, htonl(INADDR_LOOPBACK), g_session->localPort());
    return 0;
}

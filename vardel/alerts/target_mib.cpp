#include "vardel/alerts/target_mib.h"

#include "snmp/snmp.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kSnmpUdpDomain = "1.3.6.1.6.1.1";
constexpr const char* kTransportDomainUdpIpv6 = "1.3.6.1.2.1.100.1.2";

enum RowStatus : std::int32_t { kActive = 1, kCreateAndGo = 4, kDestroy = 6 };
constexpr std::int32_t kNonVolatile = 3;
constexpr std::int32_t kNotifyTrap = 1;
// How long the agent waits for an inform's answer, and how often it tries:
// the console's own SET conventions (traps ignore both).
constexpr std::int32_t kRowTimeout = 800;
constexpr std::int32_t kRowRetries = 3;

// Columns of the three entries.
enum AddrColumn : std::uint32_t {
    kAddrTDomain = 2,
    kAddrTAddress = 3,
    kAddrTimeout = 4,
    kAddrRetryCount = 5,
    kAddrTagList = 6,
    kAddrParams = 7,
    kAddrStorageType = 8,
    kAddrRowStatus = 9
};
enum ParamsColumn : std::uint32_t {
    kParamsMPModel = 2,
    kParamsSecurityModel = 3,
    kParamsSecurityName = 4,
    kParamsSecurityLevel = 5,
    kParamsStorageType = 6,
    kParamsRowStatus = 7
};
enum NotifyColumn : std::uint32_t {
    kNotifyTag = 2,
    kNotifyType = 3,
    kNotifyStorageType = 4,
    kNotifyRowStatus = 5
};

// entry.column.name, the name as an IMPLIED index (its octets, no length).
Oid column(const char* entry, std::uint32_t id, const std::string& name) {
    Oid oid(entry);
    oid += id;
    for (unsigned char c : name)
        oid += c;
    return oid;
}

Vb binding(const Oid& oid, std::int32_t value) {
    Vb vb(oid);
    vb.set_value(value);
    return vb;
}

Vb binding(const Oid& oid, const std::string& octets) {
    Vb vb(oid);
    vb.set_value(OctetStr(reinterpret_cast<const unsigned char*>(octets.data()), octets.size()));
    return vb;
}

Vb binding(const Oid& oid, const Oid& value) {
    Vb vb(oid);
    vb.set_value(value);
    return vb;
}

// The transport domain and address (address octets, then the port in network order).
bool transportAddress(const std::string& text, std::uint16_t port, Oid& domain, std::string& octets) {
    unsigned char bytes[16];
    std::size_t length = 0;
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) {
        domain = Oid(kSnmpUdpDomain);
        length = 4;
    } else if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
        domain = Oid(kTransportDomainUdpIpv6);
        length = 16;
    } else {
        return false;
    }
    octets.assign(reinterpret_cast<const char*>(bytes), length);
    octets += static_cast<char>(port >> 8);
    octets += static_cast<char>(port & 0xff);
    return true;
}

// The rows as they are to read back.
std::vector<Vb> rows(const SnmpTarget& target, const std::string& name, const Oid& domain,
                     const std::string& address) {
    const bool v3 = target.get_version() == version3;
    std::string securityName;
    if (v3) {
        securityName = target.securityName();
    } else {
        const OctetStr& community = target.writeCommunity();
        securityName.assign(reinterpret_cast<const char*>(community.data()), community.len());
    }
    const char* a = kSnmpTargetAddrEntry;
    const char* p = kSnmpTargetParamsEntry;
    const char* n = kSnmpNotifyEntry;
    return {
        binding(column(a, kAddrTDomain, name), domain),
        binding(column(a, kAddrTAddress, name), address),
        binding(column(a, kAddrTimeout, name), kRowTimeout),
        binding(column(a, kAddrRetryCount, name), kRowRetries),
        binding(column(a, kAddrTagList, name), name),
        binding(column(a, kAddrParams, name), name),
        binding(column(a, kAddrStorageType, name), kNonVolatile),
        binding(column(a, kAddrRowStatus, name), kActive),
        binding(column(p, kParamsMPModel, name), v3 ? 3 : 1),       // SNMPv3 or SNMPv2c
        binding(column(p, kParamsSecurityModel, name), v3 ? 3 : 2), // USM or SNMPv2c
        binding(column(p, kParamsSecurityName, name), securityName),
        binding(column(p, kParamsSecurityLevel, name), v3 ? target.securityLevel() : 1),
        binding(column(p, kParamsStorageType, name), kNonVolatile),
        binding(column(p, kParamsRowStatus, name), kActive),
        binding(column(n, kNotifyTag, name), name),
        binding(column(n, kNotifyType, name), kNotifyTrap),
        binding(column(n, kNotifyStorageType, name), kNonVolatile),
        binding(column(n, kNotifyRowStatus, name), kActive),
    };
}

bool isRowStatus(const Oid& oid, const std::string& name) {
    return oid == column(kSnmpTargetAddrEntry, kAddrRowStatus, name) ||
           oid == column(kSnmpTargetParamsEntry, kParamsRowStatus, name) ||
           oid == column(kSnmpNotifyEntry, kNotifyRowStatus, name);
}

bool sameValue(const Vb& a, const Vb& b) {
    if (a.get_syntax() != b.get_syntax())
        return false;
    if (a.get_syntax() == sNMP_SYNTAX_INT) {
        std::int32_t x = 0, y = 0;
        return a.get_value(x) == 0 && b.get_value(y) == 0 && x == y;
    }
    if (a.get_syntax() == sNMP_SYNTAX_OID) {
        Oid x, y;
        return a.get_value(x) == 0 && b.get_value(y) == 0 && x == y;
    }
    OctetStr x, y;
    return a.get_value(x) == 0 && b.get_value(y) == 0 && x == y;
}

// Whether the row of this RowStatus exists: 0 with present set, or the status of the get.
int rowPresent(Snmp& snmp, const SnmpTarget& target, const Oid& rowStatus, bool& present) {
    Pdu pdu;
    pdu += Vb(rowStatus);
    const int status = snmp.get(pdu, target);
    Vb vb;
    present = status == kSnmpSuccess && pdu.get_vb(vb, 0) && vb.get_syntax() == sNMP_SYNTAX_INT;
    // An SNMPv1 agent answers noSuchName for a missing row.
    return status == 2 ? kSnmpSuccess : status;
}

} // namespace

bool PrivateDestinationMissing(int status) {
    switch (status) {
    case 2:  // noSuchName
    case 4:  // readOnly
    case 6:  // noAccess
    case 11: // noCreation
    case 16: // authorizationError
    case 17: // notWritable
        return true;
    default:
        return false;
    }
}

std::string TrapTargetName(const std::string& hostName, const std::string& consoleAddress) {
    std::string name = "vardel-";
    for (unsigned char c : hostName.empty() ? consoleAddress : hostName) {
        if (name.size() == 32)
            break;
        name +=
            std::isalnum(c) || c == '.' || c == '_' || c == '-' ? static_cast<char>(std::tolower(c)) : '-';
    }
    return name;
}

int WriteTrapTargetRows(Snmp& snmp, const SnmpTarget& target, const std::string& name,
                        const std::string& consoleAddress, std::uint16_t port) {
    Oid domain;
    std::string address;
    if (!transportAddress(consoleAddress, port, domain, address))
        return kTargetRowsNoAddress;
    const std::vector<Vb> wanted = rows(target, name, domain, address);

    // This console's rows of an earlier write go first, whole.
    Pdu destroy;
    for (const Vb& vb : wanted) {
        if (!isRowStatus(vb.oid(), name))
            continue;
        bool present = false;
        if (const int status = rowPresent(snmp, target, vb.oid(), present); status != kSnmpSuccess)
            return status;
        if (present)
            destroy += binding(vb.oid(), kDestroy);
    }
    if (destroy.get_vb_count() > 0) {
        if (const int status = snmp.set(destroy, target); status != kSnmpSuccess)
            return status;
    }

    Pdu create;
    for (const Vb& vb : wanted)
        create += isRowStatus(vb.oid(), name) ? binding(vb.oid(), kCreateAndGo) : vb;
    if (const int status = snmp.set(create, target); status != kSnmpSuccess)
        return status;

    Pdu readBack;
    for (const Vb& vb : wanted)
        readBack += Vb(vb.oid());
    if (const int status = snmp.get(readBack, target); status != kSnmpSuccess)
        return status == 2 ? kTargetRowsNotKept : status;
    if (readBack.get_vb_count() != static_cast<int>(wanted.size()))
        return kTargetRowsNotKept;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        Vb got;
        if (!readBack.get_vb(got, static_cast<int>(i)) || !(got.oid() == wanted[i].oid()) ||
            !sameValue(got, wanted[i]))
            return kTargetRowsNotKept;
    }
    return kSnmpSuccess;
}

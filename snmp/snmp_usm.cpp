// SNMPv3 on Net-SNMP's user-based security model: the process's users, their
// keys, the console's engine ID, the engines learnt by discovery, and the lock
// that keeps the library's global USM state to one thread at a time.

#include "snmp/snmp_session_impl.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <net-snmp/library/keytools.h>
#include <net-snmp/library/lcd_time.h>
#include <net-snmp/library/scapi.h>
#include <net-snmp/library/snmp-tc.h>
#include <net-snmp/library/snmpusm.h>
#include <net-snmp/library/snmpv3.h>
#include <net-snmp/library/transform_oids.h>
#include <random>
#include <tuple>

namespace {

std::atomic<bool> g_enabled{false};

std::recursive_mutex& usmMutex() {
    static std::recursive_mutex m;
    return m;
}

struct MasterKeys {
    std::string name;
    int level = 1;
    int auth = 0;
    std::string authMaster;
    int priv = 0;
    std::string privMaster;
};
// An agent: its address octets (4 for IPv4, 16 for IPv6) and port.
using Peer = std::pair<std::string, std::uint16_t>;
// Both under usmMutex.
std::map<Peer, MasterKeys>& masters() {
    static std::map<Peer, MasterKeys> m;
    return m;
}
std::map<Peer, std::string>& learnt() {
    static std::map<Peer, std::string> m;
    return m;
}

Peer peerOf(const std::string& octets, std::uint16_t port) {
    return {octets, port == 0 ? 161 : port};
}

// The octets of an IPv4 or IPv6 address text; empty for anything else.
std::string octetsOf(const std::string& address) {
    in_addr a4{};
    if (inet_pton(AF_INET, address.c_str(), &a4) == 1)
        return std::string(reinterpret_cast<const char*>(&a4), sizeof a4);
    in6_addr a6{};
    if (inet_pton(AF_INET6, address.c_str(), &a6) == 1)
        return std::string(reinterpret_cast<const char*>(&a6), sizeof a6);
    return {};
}

// The protocol's identifier and its length.
oid* authOid(int auth, size_t* length) {
    *length = 10;
    switch (auth) {
    case snmpv3::kAuthMd5:
        return usmHMACMD5AuthProtocol;
    case snmpv3::kAuthSha:
        return usmHMACSHA1AuthProtocol;
    case snmpv3::kAuthSha224:
        return usmHMAC128SHA224AuthProtocol;
    case snmpv3::kAuthSha256:
        return usmHMAC192SHA256AuthProtocol;
    case snmpv3::kAuthSha384:
        return usmHMAC256SHA384AuthProtocol;
    case snmpv3::kAuthSha512:
        return usmHMAC384SHA512AuthProtocol;
    default:
        return usmNoAuthProtocol;
    }
}

oid* privOid(int priv, size_t* length) {
    *length = 10;
    switch (priv) {
    case snmpv3::kPrivDes:
        return usmDESPrivProtocol;
    case snmpv3::kPrivAes:
        return usmAESPrivProtocol;
    case snmpv3::kPrivAes192:
        *length = 9;
        return usmAES192PrivProtocol;
    case snmpv3::kPrivAes256:
        *length = 9;
        return usmAES256PrivProtocol;
    default:
        return usmNoPrivProtocol;
    }
}

int privType(int priv) {
    switch (priv) {
    case snmpv3::kPrivDes:
        return USM_CREATE_USER_PRIV_DES;
    case snmpv3::kPrivAes:
        return USM_CREATE_USER_PRIV_AES;
    case snmpv3::kPrivAes192:
        return USM_CREATE_USER_PRIV_AES192;
    case snmpv3::kPrivAes256:
        return USM_CREATE_USER_PRIV_AES256;
    default:
        return USM_CREATE_USER_PRIV_NONE;
    }
}

std::size_t privKeyLength(int priv) {
    switch (priv) {
    case snmpv3::kPrivAes192:
        return 24;
    case snmpv3::kPrivAes256:
        return 32;
    case snmpv3::kPrivNone:
        return 0;
    default:
        return 16; // DES (key and pre-IV), AES-128
    }
}

const u_char* bytes(const std::string& s) {
    return reinterpret_cast<const u_char*>(s.data());
}

u_char* copyOf(const std::string& s) {
    auto* p = static_cast<u_char*>(std::malloc(s.size() + 1));
    if (p != nullptr && !s.empty())
        std::memcpy(p, s.data(), s.size());
    return p;
}

} // namespace

namespace snmp_detail {

std::unique_lock<std::recursive_mutex> usmLock() {
    if (!g_enabled.load(std::memory_order_acquire))
        return std::unique_lock<std::recursive_mutex>(usmMutex(), std::defer_lock);
    return std::unique_lock<std::recursive_mutex>(usmMutex());
}

void learnEngine(const std::string& peerOctets, std::uint16_t port, const std::string& engineId) {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    const Peer peer = peerOf(peerOctets, port);
    learnt()[peer] = engineId;
    auto it = masters().find(peer);
    if (it == masters().end())
        return;
    const MasterKeys& m = it->second;
    snmpv3::addUser(m.name, engineId, m.level, m.auth,
                    snmpv3::localizeAuthKey(m.auth, m.authMaster, engineId), m.priv,
                    snmpv3::localizePrivKey(m.auth, m.priv, m.privMaster, engineId));
}

std::string knownEngine(const std::string& peerOctets, std::uint16_t port) {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    auto it = learnt().find(peerOf(peerOctets, port));
    return it == learnt().end() ? std::string() : it->second;
}

UsmRefusals countersNow() {
    UsmRefusals r;
    r.unknownEngineIds = snmp_get_statistic(STAT_USMSTATSUNKNOWNENGINEIDS);
    r.unknownUserNames = snmp_get_statistic(STAT_USMSTATSUNKNOWNUSERNAMES);
    r.wrongDigests = snmp_get_statistic(STAT_USMSTATSWRONGDIGESTS);
    r.notInTimeWindows = snmp_get_statistic(STAT_USMSTATSNOTINTIMEWINDOWS);
    r.decryptionErrors = snmp_get_statistic(STAT_USMSTATSDECRYPTIONERRORS);
    r.unsupportedLevels = snmp_get_statistic(STAT_USMSTATSUNSUPPORTEDSECLEVELS);
    return r;
}

} // namespace snmp_detail

namespace snmpv3 {

int enable(const std::string& engineId) {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    if (engineId.size() < 5 || engineId.size() > 32)
        return kSnmpError;
    if (set_exact_engineID(bytes(engineId), engineId.size()) != SNMPERR_SUCCESS)
        return kSnmpError;
    // The engine's own time record, which Net-SNMP made at start-up for the engine ID it had then.
    set_enginetime(bytes(engineId), static_cast<u_int>(engineId.size()), snmpv3_local_snmpEngineBoots(),
                   snmpv3_local_snmpEngineTime(), TRUE);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_V3, 0);
    g_enabled.store(true, std::memory_order_release);
    return kSnmpSuccess;
}

bool enabled() {
    return g_enabled.load(std::memory_order_acquire);
}

std::string generateEngineId() {
    // 0x80000000 | enterprise 8072 (Net-SNMP), format 0x80 (enterprise-specific), 8 random octets.
    std::string id = {'\x80', '\x00', '\x1f', '\x88', '\x80'};
    std::random_device random;
    for (int i = 0; i < 8; ++i)
        id.push_back(static_cast<char>(random() & 0xFF));
    return id;
}

std::string localEngineId() {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    u_char buffer[USM_MAX_ID_LENGTH];
    const size_t n = snmpv3_get_engineID(buffer, sizeof buffer);
    return std::string(reinterpret_cast<const char*>(buffer), n);
}

std::string passwordToKey(int auth, const std::string& passphrase) {
    if (auth == kAuthNone || passphrase.size() < USM_LENGTH_P_MIN)
        return {};
    size_t length = 0;
    const oid* hash = authOid(auth, &length);
    if (hash == nullptr)
        return {};
    u_char key[SNMP_MAXBUF_SMALL];
    size_t keyLength = sizeof key;
    if (generate_Ku(hash, static_cast<u_int>(length), bytes(passphrase), passphrase.size(), key,
                    &keyLength) != SNMPERR_SUCCESS)
        return {};
    return std::string(reinterpret_cast<const char*>(key), keyLength);
}

std::string localizeAuthKey(int auth, const std::string& masterKey, const std::string& engineId) {
    if (auth == kAuthNone || masterKey.empty() || engineId.empty())
        return {};
    size_t length = 0;
    const oid* hash = authOid(auth, &length);
    if (hash == nullptr)
        return {};
    u_char key[SNMP_MAXBUF_SMALL];
    size_t keyLength = sizeof key;
    if (generate_kul(hash, static_cast<u_int>(length), bytes(engineId), engineId.size(), bytes(masterKey),
                     masterKey.size(), key, &keyLength) != SNMPERR_SUCCESS)
        return {};
    return std::string(reinterpret_cast<const char*>(key), keyLength);
}

std::string localizePrivKey(int auth, int priv, const std::string& masterKey, const std::string& engineId) {
    const std::size_t needed = privKeyLength(priv);
    std::string key = localizeAuthKey(auth, masterKey, engineId);
    if (needed == 0 || key.empty())
        return {};
    if (key.size() < needed) {
        // Longer AES keys from a shorter hash: the library's key extension.
        size_t length = 0;
        oid* hash = authOid(auth, &length);
        constexpr u_int kBuffer = 64;
        auto* buffer = static_cast<u_char*>(std::malloc(kBuffer));
        if (buffer == nullptr)
            return {};
        std::memcpy(buffer, key.data(), key.size());
        size_t bufferLength = key.size();
        std::string id = engineId;
        const int r = netsnmp_extend_kul(static_cast<u_int>(needed), hash, static_cast<u_int>(length),
                                         privType(priv), reinterpret_cast<u_char*>(id.data()),
                                         static_cast<u_int>(id.size()), &buffer, &bufferLength, kBuffer);
        if (r == SNMPERR_SUCCESS && bufferLength >= needed)
            key.assign(reinterpret_cast<const char*>(buffer), bufferLength);
        else
            key.clear();
        std::free(buffer);
        if (key.empty())
            return {};
    }
    key.resize(needed);
    return key;
}

int addUser(const std::string& name, const std::string& engineId, int level, int auth,
            const std::string& authKey, int priv, const std::string& privKey) {
    if (name.empty() || engineId.empty())
        return kSnmpError;
    if (level >= kAuthNoPriv && authKey.empty())
        return kSnmpError;
    if (level >= kAuthPriv && privKey.empty())
        return kSnmpError;
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    removeUser(name, engineId);
    usmUser* user = usm_create_user();
    if (user == nullptr)
        return kSnmpResourceUnavailable;
    user->name = strdup(name.c_str());
    user->secName = strdup(name.c_str());
    user->engineID = copyOf(engineId);
    user->engineIDLen = engineId.size();
    size_t length = 0;
    const oid* authId = authOid(level >= kAuthNoPriv ? auth : kAuthNone, &length);
    SNMP_FREE(user->authProtocol);
    user->authProtocol = snmp_duplicate_objid(authId, length);
    user->authProtocolLen = length;
    if (level >= kAuthNoPriv) {
        user->authKey = copyOf(authKey);
        user->authKeyLen = authKey.size();
    }
    const oid* privId = privOid(level >= kAuthPriv ? priv : kPrivNone, &length);
    SNMP_FREE(user->privProtocol);
    user->privProtocol = snmp_duplicate_objid(privId, length);
    user->privProtocolLen = length;
    if (level >= kAuthPriv) {
        user->privKey = copyOf(privKey);
        user->privKeyLen = privKey.size();
    }
    user->userStatus = RS_ACTIVE;
    user->userStorageType = ST_READONLY;
    if (user->name == nullptr || user->secName == nullptr || user->engineID == nullptr ||
        user->authProtocol == nullptr || user->privProtocol == nullptr) {
        usm_free_user(user);
        return kSnmpResourceUnavailable;
    }
    usm_add_user(user);
    return kSnmpSuccess;
}

void removeUser(const std::string& name, const std::string& engineId) {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    if (usmUser* old = usm_get_user(bytes(engineId), engineId.size(), name.c_str())) {
        usm_remove_user(old);
        usm_free_user(old);
    }
}

void setMasterKeys(const std::string& address, std::uint16_t port, const std::string& name, int level,
                   int auth, const std::string& authMaster, int priv, const std::string& privMaster) {
    const std::string octets = octetsOf(address);
    if (octets.empty())
        return;
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    const Peer peer = peerOf(octets, port);
    masters()[peer] = MasterKeys{name, level, auth, authMaster, priv, privMaster};
    if (auto it = learnt().find(peer); it != learnt().end())
        snmp_detail::learnEngine(octets, port, it->second);
}

void clearMasterKeys(const std::string& address, std::uint16_t port) {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    masters().erase(peerOf(octetsOf(address), port));
}

std::string learntEngineId(const std::string& address, std::uint16_t port) {
    const std::string octets = octetsOf(address);
    return octets.empty() ? std::string() : snmp_detail::knownEngine(octets, port);
}

UsmRefusals refusals() {
    std::lock_guard<std::recursive_mutex> lock(usmMutex());
    return snmp_detail::countersNow();
}

std::string toHex(const std::string& octets) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(octets.size() * 2);
    for (unsigned char c : octets) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

bool fromHex(const std::string& text, std::string& octets) {
    std::string t;
    for (char c : text)
        if (c != ' ' && c != ':')
            t.push_back(c);
    if (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        t.erase(0, 2);
    if (t.size() % 2 != 0)
        return false;
    auto value = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < t.size(); i += 2) {
        const int hi = value(t[i]), lo = value(t[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    octets = std::move(out);
    return true;
}

} // namespace snmpv3

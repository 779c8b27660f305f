#include "vardel/store/snmpv3_store.h"

#include "snmp/snmp.h"
#include "vardel/resources/string_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* levelText(int level) {
    switch (level) {
    case snmpv3::kNoAuthNoPriv:
        return "noAuthNoPriv";
    case snmpv3::kAuthNoPriv:
        return "authNoPriv";
    default:
        return "authPriv";
    }
}

const char* const kAuthTexts[] = {"", "MD5", "SHA", "SHA-224", "SHA-256", "SHA-384", "SHA-512"};
const char* const kPrivTexts[] = {"", "DES", "AES", "AES-192", "AES-256"};

int indexOf(const char* const* texts, int count, const std::string& text) {
    for (int i = 0; i < count; ++i)
        if (text == texts[i])
            return i;
    return -1;
}

using Sections = std::map<std::string, std::map<std::string, std::string>>;

bool parse(const std::string& text, Sections& out, std::string& reason) {
    std::istringstream in(text);
    std::string line, section;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            out[section];
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || section.empty()) {
            reason = "line " + std::to_string(number) + " is no key";
            return false;
        }
        out[section][line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

bool readWhole(const std::string& path, std::string& text, int& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    error = n < 0 ? errno : 0;
    close(fd);
    return n == 0;
}

// Temporary file of mode 0640 beside path, synced, renamed over it.
bool writeWhole(const std::string& path, const std::string& text, std::string& reason) {
    const std::string temporary = path + ".tmp";
    unlink(temporary.c_str());
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0640) == 0; // whatever the umask
    for (std::size_t at = 0; ok && at < text.size();) {
        const ssize_t n = write(fd, text.data() + at, text.size() - at);
        if (n <= 0)
            ok = false;
        else
            at += static_cast<std::size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok)
        reason = std::strerror(errno);
    close(fd);
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        reason = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        unlink(temporary.c_str());
    return ok;
}

std::string hexKey(const std::map<std::string, std::string>& keys, const char* name, bool& ok) {
    auto it = keys.find(name);
    if (it == keys.end() || it->second.empty())
        return {};
    std::string octets;
    if (!snmpv3::fromHex(it->second, octets))
        ok = false;
    return octets;
}

} // namespace

int LoadV3Credentials(const std::string& programDir, ServerList& servers, std::string& reason) {
    const std::string path = programDir + kV3CredentialsFile;
    std::string text;
    int error = 0;
    if (!readWhole(path, text, error)) {
        if (error == ENOENT)
            return 0;
        reason = std::strerror(error);
        return -1;
    }
    Sections sections;
    if (!parse(text, sections, reason))
        return -1;
    std::map<std::string, SnmpV3Credentials> read;
    for (const auto& entry : sections) {
        const std::string& name = entry.first;
        const auto& keys = entry.second;
        auto value = [&keys](const char* key) {
            auto it = keys.find(key);
            return it == keys.end() ? std::string() : it->second;
        };
        SnmpV3Credentials c;
        c.user = value("User");
        const std::string level = value("Level");
        c.level = level == "noAuthNoPriv" ? snmpv3::kNoAuthNoPriv
                  : level == "authNoPriv" ? snmpv3::kAuthNoPriv
                                          : snmpv3::kAuthPriv;
        c.auth = indexOf(kAuthTexts, 7, value("Auth"));
        c.priv = indexOf(kPrivTexts, 5, value("Priv"));
        bool ok = !c.user.empty() && (c.level < snmpv3::kAuthNoPriv || c.auth > 0) &&
                  (c.level < snmpv3::kAuthPriv || c.priv > 0);
        c.auth = std::max(c.auth, 0);
        c.priv = std::max(c.priv, 0);
        c.engineId = hexKey(keys, "EngineID", ok);
        c.authKey = hexKey(keys, "AuthKey", ok);
        c.privKey = hexKey(keys, "PrivKey", ok);
        c.consoleAuthKey = hexKey(keys, "ConsoleAuthKey", ok);
        c.consolePrivKey = hexKey(keys, "ConsolePrivKey", ok);
        c.authMaster = hexKey(keys, "AuthMaster", ok);
        c.privMaster = hexKey(keys, "PrivMaster", ok);
        c.v3Only = value("V3Only") == "1";
        if (!ok) {
            reason = "the section of " + name + " is malformed";
            return -1;
        }
        read[name] = c;
    }
    for (auto& server : servers)
        if (auto it = read.find(server->name); it != read.end())
            server->v3 = it->second;
    return 0;
}

int SaveV3Credentials(const std::string& programDir, const ServerList& servers, std::string& reason) {
    const std::string path = programDir + kV3CredentialsFile;
    bool any = false;
    for (const auto& server : servers)
        any = any || server->v3.configured();
    if (!any && access(path.c_str(), F_OK) != 0)
        return 0;
    std::string out = "; SNMPv3 users of the servers of rlaweb.ini: keys, no pass phrases.\n";
    for (const auto& server : servers) {
        const SnmpV3Credentials& c = server->v3;
        if (!c.configured())
            continue;
        out += "[" + server->name + "]\nUser=" + c.user + "\nLevel=" + levelText(c.level) + "\n";
        if (c.level >= snmpv3::kAuthNoPriv)
            out += std::string("Auth=") + kAuthTexts[c.auth] + "\n";
        if (c.level >= snmpv3::kAuthPriv)
            out += std::string("Priv=") + kPrivTexts[c.priv] + "\n";
        auto key = [&out](const char* name, const std::string& octets) {
            if (!octets.empty())
                out += std::string(name) + "=" + snmpv3::toHex(octets) + "\n";
        };
        key("EngineID", c.engineId);
        key("AuthKey", c.authKey);
        key("PrivKey", c.privKey);
        key("ConsoleAuthKey", c.consoleAuthKey);
        key("ConsolePrivKey", c.consolePrivKey);
        if (c.engineId.empty()) {
            key("AuthMaster", c.authMaster);
            key("PrivMaster", c.privMaster);
        }
        if (c.v3Only)
            out += "V3Only=1\n";
    }
    return writeWhole(path, out, reason) ? 0 : -1;
}

std::string ConsoleEngineId(const std::string& programDir, std::string& reason) {
    const std::string path = programDir + kEngineIdFile;
    std::string text, id;
    int error = 0;
    if (readWhole(path, text, error)) {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
            text.pop_back();
        if (snmpv3::fromHex(text, id) && id.size() >= 5 && id.size() <= 32)
            return id;
        reason = path + " holds no engine ID";
        return {};
    }
    if (error != ENOENT) {
        reason = path + ": " + std::strerror(error);
        return {};
    }
    id = snmpv3::generateEngineId();
    if (!writeWhole(path, snmpv3::toHex(id) + "\n", reason)) {
        reason = path + ": " + reason;
        return {};
    }
    return id;
}

bool MakeV3Keys(SnmpV3Credentials& c, const std::string& authPhrase, const std::string& privPhrase,
                const std::string& consoleEngineId) {
    c.authKey.clear();
    c.privKey.clear();
    c.consoleAuthKey.clear();
    c.consolePrivKey.clear();
    c.authMaster.clear();
    c.privMaster.clear();
    if (c.level < snmpv3::kAuthNoPriv)
        return true;
    const std::string authMaster = snmpv3::passwordToKey(c.auth, authPhrase);
    const std::string privMaster =
        c.level >= snmpv3::kAuthPriv ? snmpv3::passwordToKey(c.auth, privPhrase) : std::string();
    if (authMaster.empty() || (c.level >= snmpv3::kAuthPriv && privMaster.empty()))
        return false;
    auto localize = [&](const std::string& engine, std::string& authKey, std::string& privKey) {
        authKey = snmpv3::localizeAuthKey(c.auth, authMaster, engine);
        if (c.level >= snmpv3::kAuthPriv)
            privKey = snmpv3::localizePrivKey(c.auth, c.priv, privMaster, engine);
    };
    if (!consoleEngineId.empty())
        localize(consoleEngineId, c.consoleAuthKey, c.consolePrivKey);
    if (!c.engineId.empty()) {
        localize(c.engineId, c.authKey, c.privKey);
    } else {
        c.authMaster = authMaster;
        c.privMaster = privMaster;
    }
    return true;
}

namespace {

void apply(const ManagedServer& server, const std::string& consoleEngineId, bool forInforms) {
    const SnmpV3Credentials& c = server.v3;
    const std::string& ip = ServerIpAddress(server);
    if (!ip.empty())
        snmpv3::clearMasterKeys(ip, 0);
    if (!c.configured())
        return;
    if (!snmpv3::enabled() && !consoleEngineId.empty())
        snmpv3::enable(consoleEngineId);
    if (!consoleEngineId.empty() && forInforms)
        snmpv3::addUser(c.user, consoleEngineId, c.level, c.auth, c.consoleAuthKey, c.priv, c.consolePrivKey);
    if (!c.engineId.empty())
        snmpv3::addUser(c.user, c.engineId, c.level, c.auth, c.authKey, c.priv, c.privKey);
    else if (!ip.empty())
        snmpv3::setMasterKeys(ip, 0, c.user, c.level, c.auth, c.authMaster, c.priv, c.privMaster);
}

} // namespace

void ApplyV3Credentials(const ManagedServer& server, const std::string& consoleEngineId) {
    apply(server, consoleEngineId, true);
}

void ApplyV3Credentials(const ServerList& servers, const std::string& consoleEngineId) {
    // Informs all come to the console's engine, where one user name has one
    // set of keys: the first server in list order with that name gives them.
    std::set<std::string> named;
    for (const auto& server : servers)
        if (server->v3.configured())
            apply(*server, consoleEngineId, named.insert(server->v3.user).second);
}

bool AdoptLearntEngines(ServerList& servers) {
    bool changed = false;
    for (auto& server : servers) {
        SnmpV3Credentials& c = server->v3;
        if (!c.configured() || !c.engineId.empty())
            continue;
        const std::string& ip = ServerIpAddress(*server);
        const std::string engine = ip.empty() ? std::string() : snmpv3::learntEngineId(ip);
        if (engine.empty())
            continue;
        c.engineId = engine;
        if (c.level >= snmpv3::kAuthNoPriv) {
            c.authKey = snmpv3::localizeAuthKey(c.auth, c.authMaster, engine);
            if (c.level >= snmpv3::kAuthPriv)
                c.privKey = snmpv3::localizePrivKey(c.auth, c.priv, c.privMaster, engine);
        }
        c.authMaster.clear();
        c.privMaster.clear();
        changed = true;
    }
    return changed;
}

void ApplyV3Target(const ManagedServer& server, SnmpTarget& target) {
    ApplyV3Target(server.v3, target);
}

void ApplyV3Target(const SnmpV3Credentials& c, SnmpTarget& target) {
    if (!c.configured() || !snmpv3::enabled())
        return;
    target.set_version(version3);
    target.set_security(c.user, c.level);
    target.set_engine_id(c.engineId);
}

std::string SnmpRefusalText(int status) {
    switch (status) {
    case kSnmpTimeout:
        return LoadString(IDS_V3_TIMEOUT);
    case kSnmpUsmUnknownUser:
        return LoadString(IDS_V3_UNKNOWN_USER);
    case kSnmpUsmWrongDigest:
        return LoadString(IDS_V3_WRONG_DIGEST);
    case kSnmpUsmDecryptionError:
        return LoadString(IDS_V3_DECRYPTION_ERROR);
    case kSnmpUsmNotInTimeWindow:
        return LoadString(IDS_V3_NOT_IN_TIME);
    case kSnmpUsmUnknownEngineId:
        return LoadString(IDS_V3_UNKNOWN_ENGINE);
    case kSnmpUsmUnsupportedLevel:
        return LoadString(IDS_V3_UNSUPPORTED_LEVEL);
    default:
        return {};
    }
}

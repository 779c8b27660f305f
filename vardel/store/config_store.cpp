#include "vardel/store/config_store.h"

#include "platform/profile/profile.h"
#include "platform/registry/registry.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/store_notice.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>
#include <strings.h>

namespace {

// Texts copied out of the list go into 512-byte buffers.
constexpr std::size_t kCopyBuffer = 512;

std::string fit(const std::string& text, std::size_t buffer) {
    return text.size() < buffer ? text : text.substr(0, buffer - 1);
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

void showNoMemory(const std::string& caption) {
    store::notify(LoadString(IDS_NO_MEMORY), caption, store::NoticeLevel::Error);
}

} // namespace

namespace {

// _FillListFromIni on a loaded document, without its box.
int fillListFromDocument(const profile::Document& doc, std::list<std::string>& list,
                         const std::string& section) {
    std::size_t bufferSize = 0;
    if (section == "SERVERS") {
        // Every name the section holds, whatever its count says: a count that
        // is missing, wrong or too small for long names never loses servers.
        bufferSize = std::numeric_limits<std::size_t>::max();
    } else if (section == "EnterpriseList") {
        // Missing, 0 or negative: no count of enterprises, nothing to read.
        const int count = doc.getInt("Header", "TotalNum", 0);
        if (count <= 0)
            return 1000;
        bufferSize = static_cast<std::size_t>(count) * 100;
    } else {
        return 1000;
    }
    try {
        std::vector<std::string> keys = doc.sectionKeys(section, bufferSize);
        if (keys.empty() && section == "SERVERS")
            return 1000;
        std::list<std::string> read;
        for (auto& key : keys)
            read.push_front(std::move(key));
        list.splice(list.begin(), read);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

int fillListWithBox(const profile::Document& doc, std::list<std::string>& list, const std::string& section) {
    const int result = fillListFromDocument(doc, list, section);
    if (result == -1)
        showNoMemory("_FillListFromIni");
    return result;
}

// The stored count gives names: decimal digits of that value, or nothing for none.
bool countAgrees(const std::string& count, std::size_t names) {
    if (count.empty())
        return names == 0;
    if (!std::all_of(count.begin(), count.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const std::size_t first = count.find_first_not_of('0');
    return (first == std::string::npos ? "0" : count.substr(first)) == std::to_string(names);
}

// Tells the user once when [ServerInfo] NumServers does not give the number
// of names that were read from [SERVERS].
void reportServerCount(const profile::Document& doc, const std::string& iniPath, std::size_t names) {
    const std::string count = doc.getString("ServerInfo", "NumServers", "", kCopyBuffer);
    if (countAgrees(count, names))
        return;
    const std::string text =
        count.empty() ? FormatString(IDS_SERVER_COUNT_MISSING, {iniPath, std::to_string(names)})
                      : FormatString(IDS_SERVER_COUNT_WRONG, {iniPath, std::to_string(names), count});
    store::notify(text, LoadString(IDS_PRODUCT_TITLE), store::NoticeLevel::Warning);
}

} // namespace

int _FillListFromIni(const std::string& iniPath, std::list<std::string>& list, const std::string& section) {
    return fillListWithBox(profile::load(iniPath), list, section);
}

int ReadKeyList(const std::string& iniPath, std::list<std::string>& list, const std::string& section) {
    return fillListFromDocument(profile::load(iniPath), list, section);
}

bool IsValidServerName(const std::string& name) {
    return profile::isPortableName(name);
}

int LoadServerList(const std::string& iniPath, const std::string& clientSection, ServerList& servers) {
    const profile::Document doc = profile::load(iniPath);
    std::list<std::string> names;
    if (fillListWithBox(doc, names, "SERVERS") == -1)
        return -1;
    const profile::Document::SectionReader client = doc.section(clientSection);
    for (const std::string& name : names) {
        std::unique_ptr<ManagedServer> server(new (std::nothrow) ManagedServer);
        if (!server) {
            showNoMemory(LoadString(IDS_PRODUCT_TITLE));
            return -1;
        }
        server->name = name;
        const profile::Document::SectionReader record = doc.section(name);
        server->nosText = record.getString("NOS", "", 20);
        server->nosCode = NosCodeFromText(server->nosText);
        server->ipAddress = record.getString("IP", "", 50);
        server->ipxAddress = record.getString("IPX", "", 50);
        server->ip6Address = record.getString("IP6", "", 64);
        server->community = record.getString("SNMP_COMMUNITY", "", 20);
        server->alertDestination = client.getInt(name, -1);
        servers.push_back(std::move(server));
    }
    reportServerCount(doc, iniPath, names.size());
    return 0;
}

std::vector<std::string> ServersNotLoaded(const std::string& iniPath, const ServerList& servers,
                                          const std::set<std::string>& loaded) {
    std::list<std::string> stored;
    fillListFromDocument(profile::load(iniPath), stored, "SERVERS");
    std::vector<std::string> missing;
    for (auto name = stored.rbegin(); name != stored.rend(); ++name)
        if (!loaded.count(*name) && !FindServerByName(servers, *name))
            missing.push_back(*name);
    return missing;
}

int ClearServerSections(profile::Document& doc) {
    // The key list is read first: a list that cannot be read is left whole.
    std::list<std::string> names;
    if (fillListWithBox(doc, names, "SERVERS") == -1)
        return -1;
    for (const std::string& name : names)
        doc.deleteSection(name);
    doc.deleteSection("SERVERS");
    doc.deleteKey("ServerInfo", "NumServers");
    return 0;
}

void SaveServerList(profile::Document& doc, const std::string& clientSection, ServerList& servers) {
    doc.writeString("ServerInfo", "NumServers", std::to_string(servers.size()));
    for (auto& server : servers) {
        doc.writeString("SERVERS", server->name, "1");
        if (const char* text = NosTextFromCode(server->nosCode))
            server->nosText = text;
        doc.writeString(server->name, "NOS", server->nosText);
        doc.writeString(server->name, "IP", server->ipAddress);
        doc.writeString(server->name, "IPX", server->ipxAddress);
        doc.writeString(server->name, "SNMP_COMMUNITY", server->community);
        // A key readers of the plain format pass over; absent without an IPv6 address.
        if (!server->ip6Address.empty())
            doc.writeString(server->name, "IP6", server->ip6Address);
        doc.writeString(clientSection, server->name, std::to_string(server->alertDestination));
    }
}

void SavePollingSettings(profile::Document& doc, const ConsoleSettings& settings) {
    doc.writeString("VDINFO", "RETRY", std::to_string(settings.retry));
    doc.writeString("VDINFO", "POLLTIME", std::to_string(settings.pollTime));
    doc.writeString("CLIENTS", "LastClient", settings.hostName);
}

void ReadPollingSettings(const std::string& iniPath, ConsoleSettings& settings) {
    const profile::Document doc = profile::load(iniPath);
    const int retry = doc.getInt("VDINFO", "RETRY", 7);
    const int pollTime = doc.getInt("VDINFO", "POLLTIME", 3);
    const int timeout = doc.getInt("VDINFO", "TIMEOUT", 800);
    settings.retry = retry ? retry : 7;
    settings.pollTime = pollTime ? pollTime : 3;
    settings.timeout = timeout ? static_cast<std::uint32_t>(timeout) : 800;
}

bool SaveConsoleIni(const ConsoleSettings& settings, ServerList& servers) {
    profile::Transaction tx(settings.iniPath);
    // A list whose names could not be read is left whole.
    if (ClearServerSections(tx.doc()) == 0)
        SaveServerList(tx.doc(), settings.clientSection, servers);
    SavePollingSettings(tx.doc(), settings);
    return tx.commit();
}

// ---- Registry ----

namespace {

// Each read opens the key, sizes its buffer by the longest value, reads, closes.
std::optional<std::string> readRegistryValue(const std::string& regPath, const char* name) {
    auto key = registry::Key::open(regPath);
    if (!key)
        return std::nullopt;
    auto value = key->read(name, key->longestValueLength() + 1);
    key->close();
    return value;
}

// The text fields of the settings hold up to 255 characters.
constexpr std::size_t kTextField = 256;

int readText(const std::string& regPath, const char* name, std::string& field) {
    auto value = readRegistryValue(regPath, name);
    field = value ? fit(*value, kTextField) : std::string();
    return value ? 0 : -1;
}

template <typename Flag> int readFlag(const std::string& regPath, const char* name, Flag& field) {
    auto value = readRegistryValue(regPath, name);
    field = value && *value == "1" ? 1 : 0;
    return value ? 0 : -1;
}

} // namespace

int ReadRegistryName(const std::string& regPath, ConsoleSettings& settings) {
    return readText(regPath, "Name", settings.managementServerName);
}

int ReadRegistrySoundFile(const std::string& regPath, ConsoleSettings& settings) {
    return readText(regPath, "SoundFile", settings.soundFile);
}

int ReadRegistryPort(const std::string& regPath, ConsoleSettings& settings) {
    auto value = readRegistryValue(regPath, "Port");
    settings.port = 80;
    if (!value)
        return -1;
    // The leading decimal number of the text.
    std::uint32_t port = 0;
    for (char c : *value) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            break;
        port = port * 10 + static_cast<std::uint32_t>(c - '0');
    }
    settings.port = port;
    return 0;
}

int ReadRegistrySsl(const std::string& regPath, ConsoleSettings& settings) {
    return readFlag(regPath, "SSL", settings.useSsl);
}

int ReadRegistryDhcp(const std::string& regPath, ConsoleSettings& settings) {
    return readFlag(regPath, "DHCP", settings.useDhcp);
}

int ReadRegistrySound(const std::string& regPath, ConsoleSettings& settings) {
    return readFlag(regPath, "SOUND", settings.playSound);
}

int ReadRegistryAlertCeiling(const std::string& regPath, ConsoleSettings& settings) {
    settings.alertCeiling = kDefaultAlertCeiling;
    auto value = readRegistryValue(regPath, "MaxAlerts");
    if (!value)
        return -1;
    long long ceiling = 0;
    for (char c : *value) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || ceiling > INT32_MAX)
            break;
        ceiling = ceiling * 10 + (c - '0');
    }
    if (ceiling < 1 || ceiling > INT32_MAX)
        return -1;
    settings.alertCeiling = static_cast<std::int32_t>(ceiling);
    return 0;
}

int ReadRegistryTrapReceptions(const std::string& regPath, ConsoleSettings& settings) {
    const int standard = readFlag(regPath, "StandardTraps", settings.receiveStandardTraps);
    const int unclassified = readFlag(regPath, "UnclassifiedTraps", settings.showUnclassifiedTraps);
    return standard == 0 && unclassified == 0 ? 0 : -1;
}

int ReadRegistryDesktopNotifications(const std::string& regPath, ConsoleSettings& settings) {
    settings.desktopNotifications = 0;
    return readFlag(regPath, "DesktopNotifications", settings.desktopNotifications);
}

namespace {

// "HH:MM", 00:00 to 23:59.
bool isClockTime(const std::string& text) {
    return text.size() == 5 && std::isdigit(static_cast<unsigned char>(text[0])) &&
           std::isdigit(static_cast<unsigned char>(text[1])) && text[2] == ':' &&
           std::isdigit(static_cast<unsigned char>(text[3])) &&
           std::isdigit(static_cast<unsigned char>(text[4])) && std::stoi(text.substr(0, 2)) < 24 &&
           std::stoi(text.substr(3, 2)) < 60;
}

// A decimal number from min to 100000; nullopt otherwise.
std::optional<std::int32_t> readBounded(const std::string& regPath, const char* name, std::int32_t min) {
    auto value = readRegistryValue(regPath, name);
    if (!value || value->empty() || value->size() > 6 ||
        !std::all_of(value->begin(), value->end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    const std::int32_t n = std::stoi(*value);
    return n >= min && n <= 100000 ? std::optional<std::int32_t>(n) : std::nullopt;
}

} // namespace

int ReadRegistryQuietHours(const std::string& regPath, ConsoleSettings& settings) {
    const int on = readFlag(regPath, "QuietHours", settings.quietHours);
    for (auto [name, field] : {std::pair{"QuietHoursStart", &settings.quietHoursStart},
                               std::pair{"QuietHoursEnd", &settings.quietHoursEnd}})
        if (auto value = readRegistryValue(regPath, name); value && isClockTime(*value))
            *field = *value;
    return on;
}

int ReadRegistryFlapping(const std::string& regPath, ConsoleSettings& settings) {
    const int on = readFlag(regPath, "Flapping", settings.flapping);
    if (auto changes = readBounded(regPath, "FlappingChanges", 2))
        settings.flappingChanges = *changes;
    if (auto minutes = readBounded(regPath, "FlappingMinutes", 1))
        settings.flappingMinutes = *minutes;
    return on;
}

void ReadRegistrySettings(const std::string& regPath, ConsoleSettings& settings) {
    ReadRegistryName(regPath, settings);
    ReadRegistrySoundFile(regPath, settings);
    ReadRegistryPort(regPath, settings);
    ReadRegistrySsl(regPath, settings);
    ReadRegistryDhcp(regPath, settings);
    ReadRegistrySound(regPath, settings);
    ReadRegistryAlertCeiling(regPath, settings);
    ReadRegistryTrapReceptions(regPath, settings);
    ReadRegistryDesktopNotifications(regPath, settings);
    ReadRegistryQuietHours(regPath, settings);
    ReadRegistryFlapping(regPath, settings);
    settings.checkTrapCommunity = 0;
    readFlag(regPath, "TrapCommunityCheck", settings.checkTrapCommunity);
}

void SaveRegistrySettings(const std::string& regPath, const ConsoleSettings& settings) {
    auto key = registry::Key::open(regPath);
    if (!key)
        return;
    constexpr std::size_t kDataLength = 102;
    key->write("Name", settings.managementServerName, kDataLength);
    key->write("SoundFile", settings.soundFile, kDataLength);
    key->write("Port", std::to_string(settings.port), kDataLength);
    key->write("SSL", settings.useSsl == 1 ? "1" : "0", kDataLength);
    key->write("DHCP", settings.useDhcp == 1 ? "1" : "0", kDataLength);
    key->write("SOUND", settings.playSound == 1 ? "1" : "0", kDataLength);
    // Written only once it differs from the default, so that a console left
    // at the default keeps its key as it was.
    if (settings.alertCeiling != kDefaultAlertCeiling || key->read("MaxAlerts", kDataLength))
        key->write("MaxAlerts", std::to_string(settings.alertCeiling), kDataLength);
    if (settings.receiveStandardTraps == 1 || key->read("StandardTraps", kDataLength))
        key->write("StandardTraps", settings.receiveStandardTraps == 1 ? "1" : "0", kDataLength);
    if (settings.showUnclassifiedTraps == 1 || key->read("UnclassifiedTraps", kDataLength))
        key->write("UnclassifiedTraps", settings.showUnclassifiedTraps == 1 ? "1" : "0", kDataLength);
    if (settings.desktopNotifications == 1 || key->read("DesktopNotifications", kDataLength))
        key->write("DesktopNotifications", settings.desktopNotifications == 1 ? "1" : "0", kDataLength);
    if (settings.quietHours == 1 || key->read("QuietHours", kDataLength)) {
        key->write("QuietHours", settings.quietHours == 1 ? "1" : "0", kDataLength);
        key->write("QuietHoursStart", settings.quietHoursStart, kDataLength);
        key->write("QuietHoursEnd", settings.quietHoursEnd, kDataLength);
    }
    if (settings.flapping == 1 || key->read("Flapping", kDataLength)) {
        key->write("Flapping", settings.flapping == 1 ? "1" : "0", kDataLength);
        key->write("FlappingChanges", std::to_string(settings.flappingChanges), kDataLength);
        key->write("FlappingMinutes", std::to_string(settings.flappingMinutes), kDataLength);
    }
    if (settings.checkTrapCommunity == 1 || key->read("TrapCommunityCheck", kDataLength))
        key->write("TrapCommunityCheck", settings.checkTrapCommunity == 1 ? "1" : "0", kDataLength);
    key->close();
}

// ---- Look-ups and setters ----

int FindServerNameByAddress(const ServerList& servers, const std::string& address, std::string& name) {
    for (const auto& server : servers) {
        if (equalsIgnoringCase(server->ipAddress, address) ||
            equalsIgnoringCase(server->ipxAddress, address) ||
            (!server->ip6Address.empty() && SameAddress(server->ip6Address, address))) {
            name = fit(server->name, kCopyBuffer);
            return 0;
        }
    }
    return -1;
}

ManagedServer* FindServerByName(const ServerList& servers, const std::string& name) {
    for (const auto& server : servers)
        if (server->name == name)
            return server.get();
    return nullptr;
}

int GetSnmpStatus(const ServerList& servers, const std::string& name, std::string& status) {
    const ManagedServer* server = FindServerByName(servers, name);
    if (!server)
        return -1;
    status = fit(server->snmpStatus, kCopyBuffer);
    return 0;
}

void SetSnmpStatus(ServerList& servers, const std::string& name, const std::string& status) {
    if (ManagedServer* server = FindServerByName(servers, name))
        server->snmpStatus = status;
}

void GetNetworkStatus(const ServerList& servers, const std::string& name, std::string& status) {
    if (const ManagedServer* server = FindServerByName(servers, name))
        status = fit(server->networkStatus, kCopyBuffer);
}

void SetNetworkStatus(ServerList& servers, const std::string& name, const std::string& status) {
    if (ManagedServer* server = FindServerByName(servers, name))
        server->networkStatus = status;
}

void SetPollPending(ServerList& servers, const std::string& name, int value) {
    if (ManagedServer* server = FindServerByName(servers, name))
        server->pollPending = value;
}

void CollectServerNamesBySnmpStatus(const ServerList& servers, std::list<std::string>& names,
                                    const std::string& status) {
    for (const auto& server : servers)
        if (server->snmpStatus == status)
            names.push_front(server->name);
}

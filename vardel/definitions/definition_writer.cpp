// Definition files, help pages and the index of a program directory.

#include "platform/profile/profile.h"
#include "platform/text/trim.h"
#include "vardel/definitions/definitions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <unistd.h>

namespace definitions {

namespace {

constexpr const char* kIndex = "VDTrap.ini";
constexpr const char* kImportedFrom = "; Trap definitions imported from ";
constexpr std::size_t kAllKeys = std::size_t(1) << 26;

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A module name as a file name: letters, digits, '-', '_' and '.'.
std::string fileStem(const std::string& module) {
    std::string stem;
    for (char c : module)
        stem += std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ? c : '_';
    if (stem.empty() || stem[0] == '.')
        stem = "IMPORTED" + stem;
    return stem.substr(0, 100);
}

std::string html(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// "Critical", "Warning", ...
std::string severityWord(Severity severity) {
    std::string s = SeverityKeyword(severity);
    for (std::size_t k = 1; k < s.size(); ++k)
        s[k] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[k])));
    return s;
}

// A MIB's indented DESCRIPTION as paragraphs.
std::string paragraphs(const std::string& description) {
    std::string out, para;
    std::size_t start = 0;
    auto flush = [&] {
        if (!para.empty())
            out += "<p>" + html(para) + "</p>\n";
        para.clear();
    };
    while (start <= description.size()) {
        std::size_t end = description.find('\n', start);
        if (end == std::string::npos)
            end = description.size();
        std::string line = description.substr(start, end - start);
        line = std::string(text::trim(line, " \t\r"));
        if (line.empty())
            flush();
        else
            para += (para.empty() ? "" : " ") + line;
        start = end + 1;
    }
    flush();
    return out;
}

std::string helpPage(const std::string& module, const std::vector<const Notification*>& list) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + html(module) +
        " alerts</title>\n<style>\nbody { font-family: sans-serif; max-width: 50em; margin: 2em "
        "auto; line-height: 1.4; }\nh1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: "
        "1.5em; }\ncode { background: #eee; padding: 0 .2em; }\n</style>\n</head>\n<body>\n<h1>" +
        html(module) + " alerts</h1>\n<p>The notifications of the MIB module <code>" + html(module) +
        "</code>, as its authors describe them.</p>\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Notification& n = *list[i];
        page += "\n<h2 id=\"" + std::to_string(i + 1) + "\">" + html(n.name) + " (" +
                severityWord(n.severity) + ")</h2>\n<p>Trap <code>" + html(n.trapKey) + "</code>";
        if (!n.objects.empty()) {
            page += "; its values, in order:";
            for (std::size_t k = 0; k < n.objects.size(); ++k)
                page += (k == 0 ? " " : ", ") + std::string("<code>") + html(n.objects[k]) + "</code>";
        }
        page += ".</p>\n" + paragraphs(n.description);
    }
    return page + "</body>\n</html>\n";
}

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

} // namespace

WriteResult WriteDefinitions(const std::vector<Notification>& notifications, const WriteOptions& options) {
    WriteResult result;
    const std::string& dir = options.programDir;
    if (::access(dir.c_str(), W_OK) != 0) {
        result.ok = false;
        result.error = systemError("cannot write to the program directory " + dir);
        return result;
    }
    const std::string indexPath = dir + kIndex;
    profile::Document index = profile::load(indexPath);

    // The index's enterprises and the files they name.
    std::map<std::string, std::string> fileOf;
    std::set<std::string> filesTaken; // upper case
    for (const std::string& e : index.sectionKeys("EnterpriseList", kAllKeys)) {
        const std::string f = index.getString("EnterpriseList", e, "", 512);
        fileOf.emplace(e, f);
        filesTaken.insert(upper(f));
    }

    // Enterprises in order of first appearance, and each one's file.
    std::vector<std::string> enterprises;
    std::map<std::string, std::string> newEntries;
    for (const Notification& n : notifications) {
        if (fileOf.count(n.enterprise) || newEntries.count(n.enterprise))
            continue;
        std::string stem = upper(fileStem(n.module));
        std::string name = stem + ".INI";
        for (int k = 2; filesTaken.count(upper(name)); ++k)
            name = stem + "-" + std::to_string(k) + ".INI";
        filesTaken.insert(upper(name));
        newEntries.emplace(n.enterprise, name);
    }
    for (const auto& [e, f] : newEntries)
        fileOf.emplace(e, f);

    // Help ids: the place of each notification in its module's page.
    std::map<std::string, std::vector<const Notification*>> byModule;
    std::vector<std::string> moduleOrder;
    std::set<std::string> seenKeys;
    std::map<const Notification*, int> helpId;
    std::map<std::string, profile::Document> docs;
    std::vector<std::string> docOrder;
    std::set<std::string> touchedModules;
    for (const Notification& n : notifications) {
        WrittenDefinition w;
        w.trapKey = n.trapKey;
        w.name = n.name;
        w.file = fileOf[n.enterprise];
        if (!seenKeys.insert(n.trapKey).second) {
            w.action = WrittenDefinition::Action::Duplicate;
            result.definitions.push_back(w);
            continue;
        }
        auto& list = byModule[n.module];
        if (list.empty())
            moduleOrder.push_back(n.module);
        list.push_back(&n);
        helpId[&n] = static_cast<int>(list.size());

        auto doc = docs.find(w.file);
        if (doc == docs.end()) {
            profile::Document d;
            if (::access((dir + w.file).c_str(), F_OK) == 0)
                d = profile::load(dir + w.file);
            else
                d = profile::Document::parse(kImportedFrom + n.module + "\r\n");
            doc = docs.emplace(w.file, std::move(d)).first;
            docOrder.push_back(w.file);
        }
        profile::Document& d = doc->second;
        if (d.hasSection(n.trapKey)) {
            if (!options.replace) {
                w.action = WrittenDefinition::Action::Kept;
                result.definitions.push_back(w);
                continue;
            }
            w.action = WrittenDefinition::Action::Replaced;
        }
        d.writeString(n.trapKey, "TrapString", n.name);
        d.writeString(n.trapKey, "AlarmString", n.alertText.substr(0, 511));
        d.writeString(n.trapKey, "Helpfile", fileStem(n.module) + ".HLP");
        d.writeString(n.trapKey, "HelpID", std::to_string(helpId[&n]));
        d.writeString(n.trapKey, "Severity", SeverityKeyword(n.severity));
        touchedModules.insert(n.module);
        result.definitions.push_back(w);
    }

    if (options.dryRun)
        return result;

    // Definition files and help pages in one batch, then the index: a trap
    // classified meanwhile finds no entry that names a file not yet written.
    std::vector<std::pair<std::string, std::string>> batch;
    for (const std::string& f : docOrder) {
        const bool changed =
            std::any_of(result.definitions.begin(), result.definitions.end(), [&](const auto& w) {
                return w.file == f && (w.action == WrittenDefinition::Action::Written ||
                                       w.action == WrittenDefinition::Action::Replaced);
            });
        if (changed)
            batch.emplace_back(f, docs[f].serialize());
    }
    for (const std::string& m : moduleOrder)
        if (touchedModules.count(m))
            batch.emplace_back(fileStem(m) + ".html", helpPage(m, byModule[m]));
    for (auto& [name, bytes] : batch)
        name = dir + name;
    if (!batch.empty() && !profile::writeFilesAtomically(batch)) {
        result.ok = false;
        result.error = systemError("cannot write the definition files into " + dir);
        return result;
    }
    for (const auto& file : batch)
        result.filesWritten.push_back(file.first.substr(dir.size()));
    bool indexChanged = false;
    for (const Notification& n : notifications) {
        const auto entry = newEntries.find(n.enterprise);
        if (entry == newEntries.end())
            continue;
        const bool used =
            std::any_of(result.definitions.begin(), result.definitions.end(), [&](const auto& w) {
                return w.file == entry->second && w.action != WrittenDefinition::Action::Duplicate;
            });
        if (used && index.getString("EnterpriseList", n.enterprise, "", 512).empty()) {
            index.writeString("EnterpriseList", n.enterprise, entry->second);
            indexChanged = true;
        }
    }
    // The identifiers of the notifications now defined that the listener's
    // rule would key otherwise.
    for (std::size_t i = 0; i < notifications.size() && i < result.definitions.size(); ++i) {
        const Notification& n = notifications[i];
        if (result.definitions[i].action == WrittenDefinition::Action::Duplicate ||
            index.getString("EnterpriseList", n.enterprise, "", 512).empty())
            continue;
        for (const std::string& id : IdentifiersNotKeyedByRule(n)) {
            if (index.getString(kNotificationKeysSection, id, "", 512) != n.trapKey) {
                index.writeString(kNotificationKeysSection, id, n.trapKey);
                indexChanged = true;
            }
        }
    }
    if (indexChanged) {
        const auto keys = index.sectionKeys("EnterpriseList", kAllKeys);
        index.writeString("Header", "TotalNum", std::to_string(keys.size()));
        if (!profile::save(indexPath, index)) {
            result.ok = false;
            result.error = systemError("cannot write " + indexPath);
            return result;
        }
        result.filesWritten.push_back(kIndex);
    }
    return result;
}

std::vector<Enterprise> ListEnterprises(const std::string& programDir) {
    std::vector<Enterprise> list;
    const profile::Document index = profile::load(programDir + kIndex);
    for (const std::string& oid : index.sectionKeys("EnterpriseList", kAllKeys)) {
        Enterprise e;
        e.oid = oid;
        e.file = index.getString("EnterpriseList", oid, "", 512);
        const std::string path = programDir + e.file;
        std::ifstream in(path);
        std::string first;
        if (in && std::getline(in, first) && first.rfind(kImportedFrom, 0) == 0) {
            e.module = first.substr(std::strlen(kImportedFrom));
            while (!e.module.empty() && (e.module.back() == '\r' || e.module.back() == ' '))
                e.module.pop_back();
        }
        // Sections of this file whose key is the enterprise and one more number.
        std::ifstream sections(path);
        std::string line;
        const std::string prefix = "[" + oid + ".";
        while (std::getline(sections, line)) {
            if (line.rfind(prefix, 0) != 0)
                continue;
            const std::size_t close = line.find(']');
            const std::string rest = close == std::string::npos
                                         ? std::string()
                                         : line.substr(prefix.size(), close - prefix.size());
            if (!rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos)
                ++e.definitions;
        }
        list.push_back(std::move(e));
    }
    return list;
}

std::vector<std::string> IdentifiersNotKeyedByRule(const Notification& notification) {
    std::vector<std::string> ids;
    const std::string& enterprise = notification.enterprise;
    const std::size_t dot = notification.trapKey.rfind('.');
    if (enterprise.empty() || dot == std::string::npos)
        return ids;
    const std::string oid = !notification.oid.empty() && notification.oid[0] == '.'
                                ? notification.oid.substr(1)
                                : notification.oid;
    for (const std::string& id : {oid, enterprise + ".0." + notification.trapKey.substr(dot + 1)}) {
        const std::size_t at = id.find(".0.");
        const bool keyed =
            at != std::string::npos && enterprise + "." + id.substr(at + 3) == notification.trapKey;
        if (!keyed && !id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end())
            ids.push_back(id);
    }
    return ids;
}

std::vector<std::pair<std::string, std::string>> ReadNotificationKeys(const std::string& programDir) {
    std::vector<std::pair<std::string, std::string>> keys;
    const profile::Document index = profile::load(programDir + kIndex);
    for (const std::string& id : index.sectionKeys(kNotificationKeysSection, kAllKeys)) {
        std::string key = index.getString(kNotificationKeysSection, id, "", 516);
        if (!key.empty())
            keys.emplace_back(id, std::move(key));
    }
    return keys;
}

bool RemoveEnterprise(const std::string& programDir, const std::string& oid, bool deleteFile,
                      std::string* error) {
    profile::Transaction t(programDir + kIndex);
    profile::Document& index = t.doc();
    const std::string file = index.getString("EnterpriseList", oid, "", 512);
    if (file.empty())
        return false;
    index.deleteKey("EnterpriseList", oid);
    index.writeString("Header", "TotalNum",
                      std::to_string(index.sectionKeys("EnterpriseList", kAllKeys).size()));
    // The identifiers keyed to this enterprise's keys go with it.
    const std::string prefix = oid + ".";
    bool othersKeyed = false;
    for (const std::string& id : index.sectionKeys(kNotificationKeysSection, kAllKeys)) {
        const std::string key = index.getString(kNotificationKeysSection, id, "", 516);
        const std::string rest = key.rfind(prefix, 0) == 0 ? key.substr(prefix.size()) : std::string();
        if (!rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos)
            index.deleteKey(kNotificationKeysSection, id);
        else
            othersKeyed = true;
    }
    if (!othersKeyed)
        index.deleteSection(kNotificationKeysSection);
    if (!t.commit())
        return false;
    if (!deleteFile)
        return true;
    // Only a file of the program directory itself, and only when no other
    // enterprise still names it.
    for (const std::string& e : index.sectionKeys("EnterpriseList", kAllKeys))
        if (upper(index.getString("EnterpriseList", e, "", 512)) == upper(file))
            return true;
    if (file.find('/') == std::string::npos && ::unlink((programDir + file).c_str()) != 0 &&
        errno != ENOENT && error != nullptr)
        *error = systemError("cannot delete " + programDir + file);
    return true;
}

} // namespace definitions

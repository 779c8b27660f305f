// Notifications of MIB files through Net-SNMP's own parser.
//
// The parser's pitfalls met here: read_mib reads a file's first module only,
// and a module name it has loaded already is not read again (another file of
// that name is silently ignored), so such files wait for a fresh parser
// session; a TRAP-TYPE's node keeps type TYPE_OTHER below a placeholder
// "<enterprise>#" of type TYPE_TRAPTYPE; errors only reach snmp_log, caught
// here through the logging callback while each file is read.

#include "vardel/definitions/definitions.h"
#include "vardel/definitions/mib_text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

// Net-SNMP wants its configuration first.
// clang-format off
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/parse.h>
// clang-format on

namespace fs = std::filesystem;

namespace definitions {

namespace {

// The parser's state is global: one scan at a time.
std::mutex& parserMutex() {
    static std::mutex m;
    return m;
}

// Bumped by every scan: the tree NameNotification loaded is gone.
unsigned g_scans = 0;

struct LogMessage {
    int priority;
    std::string text;
};

// Set only on the thread that scans, under parserMutex(); messages logged by
// other threads meanwhile are not captured.
thread_local std::vector<LogMessage>* t_capture = nullptr;

int logCallback(int, int, void* serverArg, void*) {
    const auto* message = static_cast<const snmp_log_message*>(serverArg);
    if (t_capture && message && message->msg) {
        std::string text = message->msg;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        t_capture->push_back({message->priority, text});
    }
    return 0;
}

void setUpParserOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SAVE_MIB_DESCRS, 1);
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_ERRORS, 1);
        netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
        snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, logCallback, nullptr);
        netsnmp_register_loghandler(NETSNMP_LOGHANDLER_CALLBACK, LOG_DEBUG);
    });
}

std::string withSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

bool readWhole(const std::string& path, std::string& text, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read it";
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

// "Cannot find module (X): At line ..." -> X.
std::string missingModuleOf(const std::string& message) {
    static const std::string prefix = "Cannot find module (";
    const std::size_t at = message.find(prefix);
    if (at == std::string::npos)
        return {};
    const std::size_t start = at + prefix.size();
    const std::size_t end = message.find(')', start);
    return end == std::string::npos ? std::string() : message.substr(start, end - start);
}

// "...: At line 12 in /path/file" -> /path/file.
std::string fileOfMessage(const std::string& message) {
    static const std::string marker = " in ";
    const std::size_t line = message.rfind(": At line ");
    if (line == std::string::npos)
        return {};
    const std::size_t in = message.find(marker, line);
    return in == std::string::npos ? std::string() : message.substr(in + marker.size());
}

struct Input {
    std::size_t index; // in the caller's list
    std::string path;  // as given
    std::string real;  // canonical
    MibText text;
    std::vector<std::string> errors;
    bool done = false;
};

struct Found {
    std::string oid;
    std::string name;
    bool trapType;
    std::vector<std::string> objects;
    std::string description;
};

void oidText(const tree* node, std::string& out) {
    std::vector<unsigned long> ids;
    for (const tree* t = node; t; t = t->parent)
        ids.push_back(t->subid);
    out.clear();
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        out += (out.empty() ? "" : ".") + std::to_string(*it);
}

// Every notification node of the tree, by the module ids that define it.
void collect(const tree* t, bool underTrapPlaceholder, const std::map<int, std::vector<Found>*>& byModule) {
    for (; t; t = t->next_peer) {
        const bool notification =
            t->type == TYPE_NOTIFTYPE || (underTrapPlaceholder && t->type != TYPE_TRAPTYPE);
        if (notification && t->label) {
            std::vector<int> modids(t->module_list, t->module_list + std::max(t->number_modules, 0));
            if (std::find(modids.begin(), modids.end(), t->modid) == modids.end())
                modids.push_back(t->modid);
            for (const int modid : modids) {
                const auto entry = byModule.find(modid);
                if (entry == byModule.end())
                    continue;
                std::vector<Found>* list = entry->second;
                Found f;
                oidText(t, f.oid);
                f.name = t->label;
                f.trapType = t->type != TYPE_NOTIFTYPE;
                for (const varbind_list* v = t->varbinds; v; v = v->next)
                    if (v->vblabel)
                        f.objects.emplace_back(v->vblabel);
                if (t->description)
                    f.description = t->description;
                list->push_back(std::move(f));
            }
        }
        const bool placeholder =
            t->type == TYPE_TRAPTYPE && t->label && std::strchr(t->label, '#') != nullptr;
        if (t->child_list)
            collect(t->child_list, placeholder, byModule);
    }
}

// One parser session over the inputs not done yet; those whose module is
// already in this session (a second file of that name, or an import of an
// earlier file) are left for the next one, which unloads that module first.
// Freeing the whole tree costs the parser time in the square of the modules
// read: only the first session starts afresh.
void session(std::vector<Input*>& pending, const ScanOptions& options, ScanResult& result,
             std::map<std::size_t, std::vector<Notification>>& perInput, int& done, int total, bool first) {
    if (!first) {
        for (const Input* in : pending)
            unload_module(in->text.modules.front().c_str());
    } else {
        shutdown_mib();
        netsnmp_init_mib_internals();

        // The parser prefers the directory added last: lowest priority first.
        std::set<std::string> seenFolders;
        std::vector<std::string> merged;
        for (const Input* in : pending) {
            const std::string folder = withSlash(fs::path(in->path).parent_path().string());
            if (seenFolders.insert(folder).second)
                for (const std::string& d : SearchPath(folder.empty() ? "./" : folder, options))
                    if (std::find(merged.begin(), merged.end(), d) == merged.end())
                        merged.push_back(d);
        }
        for (auto it = merged.rbegin(); it != merged.rend(); ++it) {
            struct stat st {};
            if (::stat(it->c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                add_mibdir(it->c_str());
        }
    }

    std::vector<Input*> next;
    std::map<int, Input*> readHere;
    for (Input* in : pending) {
        if (in->done)
            continue;
        if (options.cancel && options.cancel->load()) {
            result.cancelled = true;
            return;
        }
        const std::string& module = in->text.modules.front();
        const int known = which_module(module.c_str());
        const struct module* mp = known >= 0 ? find_module(known) : nullptr;
        if (mp && mp->no_imports != -1 && canonical(mp->file) != in->real) {
            next.push_back(in);
            continue;
        }
        std::vector<LogMessage> log;
        t_capture = &log;
        read_mib(in->path.c_str());
        t_capture = nullptr;
        FileOutcome& outcome = result.files[in->index];
        for (const LogMessage& m : log) {
            if (m.priority > LOG_ERR)
                continue;
            if (m.text.rfind("MIB search path", 0) == 0)
                continue;
            in->errors.push_back(m.text);
            const std::string missing = missingModuleOf(m.text);
            if (!missing.empty() && std::find(outcome.missingModules.begin(), outcome.missingModules.end(),
                                              missing) == outcome.missingModules.end())
                outcome.missingModules.push_back(missing);
            // An error in a file given too, read here as an import.
            const std::string other = canonical(fileOfMessage(m.text));
            for (Input* o : pending)
                if (o != in && o->real == other)
                    o->errors.push_back(m.text);
        }
        const int modid = which_module(module.c_str());
        if (modid >= 0)
            readHere[modid] = in;
        in->done = true;
        ++done;
        if (options.progress && !options.progress(done, total, in->path)) {
            result.cancelled = true;
            return;
        }
    }

    std::map<int, std::vector<Found>> found;
    std::map<int, std::vector<Found>*> byModule;
    for (const auto& [modid, in] : readHere)
        if (in->errors.empty())
            byModule[modid] = &found[modid];
    if (!byModule.empty())
        collect(get_tree_head(), false, byModule);

    for (const auto& [modid, in] : readHere) {
        FileOutcome& outcome = result.files[in->index];
        if (!in->errors.empty()) {
            std::string error;
            for (const std::string& e : in->errors)
                error += (error.empty() ? "" : "; ") + e;
            outcome.error = error;
            continue;
        }
        // Definition order from the text; the text's description is whole.
        std::map<std::string, const MibTextDefinition*> byName;
        for (const MibTextDefinition& d : in->text.definitions)
            byName.emplace(d.name, &d);
        std::vector<Found>& list = found[modid];
        std::map<std::string, std::size_t> order;
        for (std::size_t i = 0; i < in->text.definitions.size(); ++i)
            order.emplace(in->text.definitions[i].name, i);
        std::stable_sort(list.begin(), list.end(), [&](const Found& a, const Found& b) {
            const auto ia = order.find(a.name), ib = order.find(b.name);
            return (ia == order.end() ? order.size() : ia->second) <
                   (ib == order.end() ? order.size() : ib->second);
        });
        std::vector<Notification>& out = perInput[in->index];
        for (Found& f : list) {
            Notification n;
            n.module = in->text.modules.front();
            n.name = f.name;
            n.oid = f.oid;
            n.trapType = f.trapType;
            TrapKeyOf(n.oid, n.enterprise, n.trapKey);
            n.objects = std::move(f.objects);
            n.sourceFile = in->path;
            const auto text = byName.find(f.name);
            const MibTextDefinition* d = text == byName.end() ? nullptr : text->second;
            n.description =
                d && d->description.size() > f.description.size() ? d->description : f.description;
            if (d && !d->summary.empty())
                n.alertText = SummaryAlertText(*d);
            else
                n.alertText = DefaultAlertText(n.name, n.objects);
            if (d && !d->severity.empty() && SeverityFromWord(d->severity, n.severity)) {
                n.severityFrom = "--#SEVERITY";
            } else {
                n.severity = SeverityFromName(n.name);
                n.severityFrom = "name";
            }
            if (n.objects.size() > 10)
                outcome.notes.push_back(n.name + " has " + std::to_string(n.objects.size()) +
                                        " objects; an alert keeps the first 10 (%1..%10)");
            out.push_back(std::move(n));
        }
        outcome.imported = true;
        outcome.notifications = static_cast<int>(out.size());
        if (in->text.definitions.size() > out.size()) {
            for (const MibTextDefinition& d : in->text.definitions)
                if (std::none_of(out.begin(), out.end(),
                                 [&](const Notification& n) { return n.name == d.name; }))
                    outcome.notes.push_back(d.name + " was not found by the parser; not imported");
        }
    }
    pending = next;
}

} // namespace

std::string BaseModuleDirectory() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("mibs/") : withSlash((exe.parent_path() / "mibs").string());
}

std::vector<std::string> FilesInFolder(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec) && entry.path().filename().string()[0] != '.')
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> SearchPath(const std::string& folder, const ScanOptions& options) {
    std::vector<std::string> path;
    auto add = [&](const std::string& d) {
        const std::string dir = withSlash(d);
        if (!d.empty() && std::find(path.begin(), path.end(), dir) == path.end())
            path.push_back(dir);
    };
    add(folder);
    for (const std::string& d : options.mibDirs)
        add(d);
    const std::string base =
        withSlash(options.baseModuleDir.empty() ? BaseModuleDirectory() : options.baseModuleDir);
    // In a build tree the program directory's mibs/ holds the base modules: last.
    if (!options.programDir.empty() && canonical(withSlash(options.programDir) + "mibs/") != canonical(base))
        add(withSlash(options.programDir) + "mibs/");
    if (options.systemDirs) {
        if (const char* home = std::getenv("HOME"); home && *home)
            add(std::string(home) + "/.snmp/mibs/");
        add("/usr/share/snmp/mibs/");
        add("/usr/share/snmp/mibs/ietf/");
        add("/usr/share/snmp/mibs/iana/");
    }
    add(base);
    return path;
}

ScanResult ScanMibFiles(const std::vector<std::string>& files, const ScanOptions& options) {
    ScanResult result;
    result.files.resize(files.size());
    std::vector<Input> inputs(files.size());
    std::vector<Input*> pending;
    int done = 0;
    const int total = static_cast<int>(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        FileOutcome& outcome = result.files[i];
        outcome.path = files[i];
        Input& in = inputs[i];
        in.index = i;
        in.path = files[i];
        in.real = canonical(files[i]);
        struct stat st {};
        std::string text, error;
        if (::stat(files[i].c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            outcome.error = "cannot read it: not a file";
        } else if (st.st_size > kMaxMibFileBytes) {
            outcome.error = "not imported: " + std::to_string(st.st_size / (1024 * 1024)) +
                            " MB is more than a MIB file holds (" +
                            std::to_string(kMaxMibFileBytes / (1024 * 1024)) + " MB at most)";
        } else if (!readWhole(files[i], text, error)) {
            outcome.error = error;
        } else {
            outcome.error = ReadMibText(text, in.text);
        }
        if (!outcome.error.empty()) {
            ++done;
            if (options.progress && !options.progress(done, total, files[i])) {
                result.cancelled = true;
                return result;
            }
            continue;
        }
        outcome.module = in.text.modules.front();
        if (in.text.modules.size() > 1) {
            std::string others;
            for (std::size_t m = 1; m < in.text.modules.size(); ++m)
                others += (others.empty() ? "" : ", ") + in.text.modules[m];
            outcome.notes.push_back("holds " + std::to_string(in.text.modules.size()) + " modules; only " +
                                    in.text.modules.front() + " is read, not " + others);
        }
        pending.push_back(&in);
    }

    std::map<std::size_t, std::vector<Notification>> perInput;
    if (!pending.empty()) {
        std::lock_guard lock(parserMutex());
        setUpParserOnce();
        ++g_scans;
        bool first = true;
        while (!pending.empty() && !result.cancelled) {
            const std::size_t before = pending.size();
            session(pending, options, result, perInput, done, total, first);
            first = false;
            if (pending.size() == before && !result.cancelled)
                break; // cannot happen: the first pending file is always read
        }
        if (options.releaseParser)
            shutdown_mib();
    }
    if (result.cancelled) {
        result.notifications.clear();
        return result;
    }
    for (auto& [index, list] : perInput)
        for (Notification& n : list)
            result.notifications.push_back(std::move(n));
    return result;
}

std::vector<std::string> NameSearchPath(const std::string& programDir) {
    ScanOptions options;
    options.programDir = programDir;
    return SearchPath({}, options);
}

namespace {

bool parseOid(const std::string& text, std::vector<oid>& out) {
    out.clear();
    std::size_t i = text.empty() || text[0] != '.' ? 0 : 1;
    while (i < text.size()) {
        std::size_t end = text.find('.', i);
        if (end == std::string::npos)
            end = text.size();
        if (end == i || end - i > 10)
            return false;
        unsigned long long n = 0;
        for (std::size_t j = i; j < end; ++j) {
            if (text[j] < '0' || text[j] > '9')
                return false;
            n = n * 10 + static_cast<unsigned>(text[j] - '0');
        }
        if (n > 0xFFFFFFFFull)
            return false;
        out.push_back(static_cast<oid>(n));
        i = end + 1;
    }
    return !out.empty() && out.size() <= MAX_OID_LEN;
}

// The deepest node of the tree on the OID's path, and how many of its
// sub-identifiers that node covers.
const tree* deepest(const std::vector<oid>& ids, std::size_t& depth) {
    depth = 0;
    const tree* found = nullptr;
    const tree* level = get_tree_head();
    for (std::size_t i = 0; i < ids.size() && level; ++i) {
        const tree* t = level;
        while (t && t->subid != ids[i])
            t = t->next_peer;
        if (!t)
            break;
        found = t;
        depth = i + 1;
        level = t->child_list;
    }
    return found;
}

} // namespace

bool NameNotification(const std::vector<std::string>& folders, const std::string& notifyOid,
                      const std::vector<std::string>& bindingOids, OidNames& names) {
    names.notification.clear();
    names.objects.assign(bindingOids.size(), std::string());
    std::unique_lock lock(parserMutex(), std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    static std::vector<std::string> loadedFolders;
    static unsigned loadedAfter = ~0u;
    if (loadedAfter != g_scans || loadedFolders != folders) {
        setUpParserOnce();
        shutdown_mib();
        netsnmp_init_mib_internals();
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
            struct stat st {};
            if (::stat(it->c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                add_mibdir(it->c_str());
        }
        read_all_mibs(); // what does not parse goes to the captureless log callback
        loadedFolders = folders;
        loadedAfter = g_scans;
    }
    std::vector<oid> ids;
    std::size_t depth = 0;
    if (parseOid(notifyOid, ids)) {
        const tree* t = deepest(ids, depth);
        if (t && depth == ids.size() && t->label && std::strchr(t->label, '#') == nullptr) {
            const struct module* mp = find_module(t->modid);
            names.notification = (mp && mp->name ? std::string(mp->name) + "::" : std::string()) + t->label;
        }
    }
    for (std::size_t i = 0; i < bindingOids.size(); ++i) {
        if (!parseOid(bindingOids[i], ids))
            continue;
        const tree* t = deepest(ids, depth);
        // An object and its instance: a node without children (a scalar or
        // a column), or the very node.
        if (!t || !t->label || (depth < ids.size() && t->child_list))
            continue;
        std::string name = t->label;
        for (std::size_t j = depth; j < ids.size(); ++j)
            name += "." + std::to_string(ids[j]);
        names.objects[i] = std::move(name);
    }
    return true;
}

} // namespace definitions

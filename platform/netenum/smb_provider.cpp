#include "platform/netenum/smb_provider.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <libsmbclient.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace netenum {

namespace {

// Browse lists are served over SMB1 only.
constexpr const char* kProtocol = "NT1";
constexpr int kTimeoutMs = 3000;

// libsmbclient keeps its configuration, log and protocol settings process-wide.
std::mutex g_libraryMutex;

// Set by the log callback (on whichever thread logs) while an enumeration
// holds g_libraryMutex: a peer refused the SMB1 dialect.
std::atomic<bool> g_refused{false};

void onLog(void*, int, const char* message) {
    if (std::strstr(message, "No compatible protocol selected by server") != nullptr ||
        std::strstr(message, "protocol negotiation failed") != nullptr)
        g_refused = true;
}

void noCredentials(SMBCCTX*, const char*, const char*, char*, int, char* user, int userLength, char* password,
                   int passwordLength) {
    if (userLength > 0)
        user[0] = '\0';
    if (passwordLength > 0)
        password[0] = '\0';
}

bool makeDirectory(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

// A configuration of our own, so that neither the user's nor the machine's
// smb.conf applies and libsmbclient's caches live in a directory of ours: the
// directory's .smb/smb.conf. Empty when no such directory can be made.
std::string privateDirectory() {
    static std::string path;
    if (!path.empty())
        return path;
    std::string directory;
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/')
        directory = std::string(cache) + "/vardel/smbclient";
    else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        directory = std::string(home) + "/.cache/vardel/smbclient";
    if (directory.empty() || !makeDirectory(directory + "/.smb")) {
        char temporary[] = "/tmp/vardel-smbclient-XXXXXX";
        if (mkdtemp(temporary) == nullptr || !makeDirectory(std::string(temporary) + "/.smb"))
            return {};
        directory = temporary;
    }
    // Written aside and renamed, so that another process never reads half a file.
    const std::string file = directory + "/.smb/smb.conf";
    const std::string written = file + "." + std::to_string(getpid());
    std::ofstream out(written, std::ios::trunc);
    out << "[global]\n";
    for (const char* key : {"lock directory", "state directory", "cache directory", "private dir",
                            "ncalrpc dir", "pid directory"})
        out << "  " << key << " = " << directory << "\n";
    out << "  client min protocol = " << kProtocol << "\n  client max protocol = " << kProtocol << "\n";
    out.close();
    if (!out || std::rename(written.c_str(), file.c_str()) != 0) {
        std::remove(written.c_str());
        return {};
    }
    path = directory;
    return path;
}

// libsmbclient loads $HOME/.smb/smb.conf, or else the machine's smb.conf, and
// probes the network interfaces whenever a context is made while none exists.
// Each enumeration makes the only one, with HOME naming the private directory
// meanwhile. HOME is replaced in place (no environment array is reallocated
// under a concurrent getenv); without HOME the machine's smb.conf is loaded
// and then overridden by smbc_setConfiguration.
SMBCCTX* newContext(const std::string& directory) {
    const char* home = std::getenv("HOME");
    const std::string saved = home != nullptr ? home : "";
    if (home != nullptr)
        setenv("HOME", directory.c_str(), 1);
    SMBCCTX* c = smbc_new_context();
    if (home != nullptr)
        setenv("HOME", saved.c_str(), 1);
    return c;
}

std::string urlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

struct Context {
    SMBCCTX* c = nullptr;
    ~Context() {
        if (c != nullptr)
            smbc_free_context(c, 1);
    }
};

} // namespace

Failure SmbProvider::enumerate(const std::string& container, std::vector<Resource>& out) {
    // Below a workgroup there are only servers; their shares are not listed.
    if (container.rfind("\\\\", 0) == 0)
        return Failure::noSuchContainer;
    std::lock_guard lock(g_libraryMutex);
    const std::string directory = privateDirectory();
    if (directory.empty())
        return Failure::noNetwork;
    Context context;
    context.c = newContext(directory);
    if (context.c == nullptr)
        return Failure::noNetwork;
    SMBCCTX* c = context.c;
    smbc_setDebug(c, 0);
    smbc_setLogCallback(c, nullptr, onLog);
    if (smbc_setConfiguration(c, (directory + "/.smb/smb.conf").c_str()) != 0)
        return Failure::noNetwork;
    smbc_setOptionUseKerberos(c, false);
    smbc_setOptionFallbackAfterKerberos(c, true);
    smbc_setOptionUseCCache(c, false);
    smbc_setOptionNoAutoAnonymousLogin(c, false);
    smbc_setFunctionAuthDataWithContext(c, noCredentials);
    smbc_setTimeout(c, kTimeoutMs);
    if (smbc_init_context(c) == nullptr)
        return Failure::noNetwork;
    smbc_setOptionProtocols(c, kProtocol, kProtocol);

    g_refused = false;
    const std::string url = container.empty() ? "smb://" : "smb://" + urlEncode(container) + "/";
    SMBCFILE* listing = smbc_getFunctionOpendir(c)(c, url.c_str());
    const int error = errno;
    if (listing == nullptr) {
        if (g_refused)
            return Failure::protocolRefused;
        if (container.empty() || error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH)
            return Failure::noNetwork;
        return Failure::noSuchContainer;
    }
    const unsigned wanted = container.empty() ? SMBC_WORKGROUP : SMBC_SERVER;
    std::vector<Resource> found;
    while (const smbc_dirent* entry = smbc_getFunctionReaddir(c)(c, listing)) {
        if (entry->smbc_type != wanted)
            continue;
        Resource r;
        r.comment = entry->comment != nullptr ? entry->comment : "";
        if (wanted == SMBC_WORKGROUP) {
            r.remoteName = entry->name;
            r.displayType = RESOURCEDISPLAYTYPE_DOMAIN;
        } else {
            r.remoteName = std::string("\\\\") + entry->name;
            r.displayType = RESOURCEDISPLAYTYPE_SERVER;
        }
        found.push_back(std::move(r));
    }
    smbc_getFunctionClosedir(c)(c, listing);
    // A network whose browsers all refused SMB1 reads as an empty one.
    if (found.empty() && g_refused)
        return Failure::protocolRefused;
    out.insert(out.end(), found.begin(), found.end());
    return Failure::none;
}

} // namespace netenum

#include "platform/profile/atomic_file.h"

#include "platform/posix/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <unistd.h>

namespace profile {

namespace {

WriteResult failure(const char* step, const std::string& path, int error = errno) {
    return {error != 0 ? error : EIO, step, path};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

constexpr std::size_t kTemporarySuffixLength = 12;

std::string randomSuffix() {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t v;
    {
        std::lock_guard lock(mutex);
        v = engine() ^ (std::uint64_t(::getpid()) << 32);
    }
    static const char digits[] = "0123456789abcdef";
    std::string s(kTemporarySuffixLength, '0');
    for (char& c : s) {
        c = digits[v & 15];
        v >>= 4;
    }
    return s;
}

// The file a replacement of path replaces: a symbolic link's target.
std::string saveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string target = real;
            std::free(real);
            return target;
        }
    }
    return path;
}

// The directory holding file ("." for a bare name) and the name within it.
std::string directoryOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

std::string nameOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

// The temporary files of a replacement of target are named this, then 12
// hexadecimal digits, in target's directory.
std::string temporaryName(const std::string& target) {
    return "." + nameOf(target) + ".";
}

void syncDirectory(const std::string& dir) {
    const UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// A temporary file beside target, holding bytes, with target's mode and owner.
struct Temporary {
    std::string path, target;
    UniqueFd fd;
    dev_t device = 0;

    Temporary() = default;
    Temporary(Temporary&&) = default;
    Temporary& operator=(Temporary&&) = default;
    ~Temporary() {
        if (fd.valid())
            ::unlink(path.c_str());
    }
    // After a successful rename the temporary's name is the target's.
    void renamed() { fd.reset(); }
};

WriteResult prepare(const std::string& path, std::string_view bytes, Temporary& out) {
    out.target = saveTarget(path);
    struct stat st {};
    const bool exists = ::stat(out.target.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        return failure("replace", out.target, EINVAL);
    if (exists && ::faccessat(AT_FDCWD, out.target.c_str(), W_OK, AT_EACCESS) != 0)
        return failure("write to", out.target);
    const std::string prefix = directoryOf(out.target) + "/" + temporaryName(out.target);
    for (int attempt = 0; attempt < 100 && !out.fd.valid(); ++attempt) {
        out.path = prefix + randomSuffix();
        out.fd.reset(::open(out.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!out.fd.valid() && errno != EEXIST)
            return failure("create a file beside", out.target);
    }
    if (!out.fd.valid())
        return failure("create a file beside", out.target, EEXIST);
    struct stat mine {};
    out.device = ::fstat(out.fd.get(), &mine) == 0 ? mine.st_dev : 0;
    if (exists) {
        if (st.st_uid != ::geteuid() || st.st_gid != ::getegid())
            (void)!::fchown(out.fd.get(), st.st_uid, st.st_gid); // only where permitted
        if (::fchmod(out.fd.get(), st.st_mode & 07777) != 0)
            return failure("keep the mode of", out.target);
    }
    if (!writeAll(out.fd.get(), bytes))
        return failure("write", out.target);
    return {};
}

} // namespace

std::string WriteResult::reason() const {
    if (error == 0)
        return {};
    return std::string("cannot ") + step + " " + path + ": " + std::strerror(error);
}

WriteResult writeFileAtomically(const std::string& path, std::string_view bytes, struct stat* written) {
    Temporary temp;
    if (WriteResult r = prepare(path, bytes, temp); !r)
        return r;
    if (::fsync(temp.fd.get()) != 0)
        return failure("sync", temp.target);
    if (::rename(temp.path.c_str(), temp.target.c_str()) != 0)
        return failure("rename", temp.target);
    if (written && ::fstat(temp.fd.get(), written) != 0)
        *written = {};
    temp.renamed();
    syncDirectory(directoryOf(temp.target));
    return {};
}

WriteResult replaceFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<Temporary> temps(files.size());
    for (std::size_t i = 0; i < files.size(); ++i)
        if (WriteResult r = prepare(files[i].first, files[i].second, temps[i]); !r)
            return r;
    std::vector<dev_t> synced;
    for (const Temporary& t : temps) {
        if (std::find(synced.begin(), synced.end(), t.device) != synced.end())
            continue;
        if (::syncfs(t.fd.get()) != 0)
            return failure("sync", t.target);
        synced.push_back(t.device);
    }
    std::vector<std::string> dirs;
    WriteResult result;
    for (Temporary& t : temps) {
        if (::rename(t.path.c_str(), t.target.c_str()) != 0) {
            result = failure("rename", t.target);
            break;
        }
        t.renamed();
        const std::string dir = directoryOf(t.target);
        if (std::find(dirs.begin(), dirs.end(), dir) == dirs.end())
            dirs.push_back(dir);
    }
    for (const std::string& dir : dirs)
        syncDirectory(dir);
    return result;
}

int removeLeftoverTemporaries(const std::string& path, std::chrono::seconds olderThan) {
    const std::string target = saveTarget(path);
    const std::string namePrefix = temporaryName(target);
    DIR* dir = ::opendir(directoryOf(target).c_str());
    if (!dir)
        return 0;
    const std::time_t limit = std::time(nullptr) - std::time_t(olderThan.count());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() != namePrefix.size() + kTemporarySuffixLength ||
            name.substr(0, namePrefix.size()) != namePrefix)
            continue;
        const std::string_view suffix = name.substr(namePrefix.size());
        if (suffix.find_first_not_of("0123456789abcdef") != std::string_view::npos)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_mtime < limit && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace profile

// The per-path cache of parsed files and the single calls on a path.

#include "platform/profile/profile.h"

#include "platform/posix/unique_fd.h"
#include "platform/profile/document_access.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace profile {

namespace {

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    static FileId of(const struct stat& st) {
        return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const FileId& o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
               ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

std::int64_t nanos(const timespec& t) {
    return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::int64_t nowNanos() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return nanos(t);
}

// File times advance in clock ticks; a change within this long of the time a
// file was read may leave its times and size as they were.
constexpr std::int64_t kTimestampSlack = 50'000'000;

enum class ReadResult { Ok, Missing, Failed };

// Regular files only: O_NONBLOCK keeps a FIFO (or a device) from holding up
// the open; it changes nothing for a regular file.
ReadResult readWholeFile(const std::string& path, std::string& text, FileId& id) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ReadResult::Failed;
    id = FileId::of(st);
    text.clear();
    text.resize(std::size_t(st.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2);
        const ssize_t n = ::read(fd.get(), text.data() + used, text.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ReadResult::Failed;
        if (n == 0)
            break;
        used += std::size_t(n);
    }
    text.resize(used);
    return ReadResult::Ok;
}

std::size_t contentHash(std::string_view text) {
    return std::hash<std::string_view>{}(text);
}

struct CacheEntry {
    Document doc;
    bool exists = false;
    FileId id;
    std::size_t hash = 0;
    bool racy = false; // the file changed too recently for its times to tell a later change
};

constexpr std::size_t kMaxCachedFiles = 64;

std::mutex& cacheMutex() {
    static std::mutex m;
    return m;
}

std::unordered_map<std::string, CacheEntry>& cache() {
    static std::unordered_map<std::string, CacheEntry> c;
    return c;
}

// The cache entry of path, brought up to date with the file. Caller holds cacheMutex().
CacheEntry& freshEntry(const std::string& path) {
    auto& files = cache();
    auto it = files.find(path);
    std::string text;
    FileId id;
    bool haveText = false;
    std::int64_t readAt = 0;
    if (it != files.end()) {
        CacheEntry& e = it->second;
        struct stat st {};
        const int rc = ::stat(path.c_str(), &st);
        if (rc != 0 && errno == ENOENT && !e.exists)
            return e;
        if (rc == 0 && e.exists && FileId::of(st) == e.id) {
            if (!e.racy)
                return e;
            readAt = nowNanos();
            haveText = readWholeFile(path, text, id) == ReadResult::Ok;
            if (haveText && id == e.id && contentHash(text) == e.hash) {
                if (readAt - nanos(e.id.mtime) > kTimestampSlack)
                    e.racy = false;
                return e;
            }
        }
    } else if (files.size() >= kMaxCachedFiles) {
        files.clear();
    }
    CacheEntry fresh;
    if (!haveText) {
        readAt = nowNanos();
        haveText = readWholeFile(path, text, id) == ReadResult::Ok;
    }
    if (haveText) {
        fresh.doc = Document::parse(text);
        fresh.exists = true;
        fresh.id = id;
        fresh.hash = contentHash(text);
        fresh.racy = readAt - nanos(id.mtime) <= kTimestampSlack;
    }
    CacheEntry& slot = files[path];
    slot = std::move(fresh);
    return slot;
}

// Writes the entry's document to path and records the new file. Caller holds cacheMutex().
bool saveLocked(const std::string& path, const Document& doc) {
    const std::string bytes = doc.serialize();
    struct stat written {};
    if (!writeFileAtomically(path, bytes, &written))
        return false;
    const FileId id = FileId::of(written);
    CacheEntry& e = cache()[path];
    e.doc = doc;
    e.exists = true;
    e.id = id;
    e.hash = contentHash(bytes);
    e.racy = true;
    return true;
}

template <typename Edit> bool editFile(const std::string& path, Edit edit) {
    std::lock_guard lock(cacheMutex());
    CacheEntry& e = freshEntry(path);
    const int result = edit(e.doc); // in place unless a loaded copy shares it
    if (result <= 0)
        return result == 0;
    if (saveLocked(path, e.doc))
        return true;
    cache().erase(path); // holds the edit that did not reach the file
    return false;
}

} // namespace

WriteResult writeFilesAtomically(const std::vector<std::pair<std::string, std::string>>& files) {
    WriteResult result = replaceFilesAtomically(files);
    std::lock_guard lock(cacheMutex());
    for (const auto& file : files)
        cache().erase(file.first);
    return result;
}

Document load(const std::string& path) {
    std::lock_guard lock(cacheMutex());
    return freshEntry(path).doc;
}

bool save(const std::string& path, const Document& doc) {
    std::lock_guard lock(cacheMutex());
    return saveLocked(path, doc);
}

std::string getString(const std::string& path, std::string_view section, std::string_view key,
                      std::string_view defaultValue, std::size_t bufferSize) {
    std::lock_guard lock(cacheMutex());
    return freshEntry(path).doc.getString(section, key, defaultValue, bufferSize);
}

int getInt(const std::string& path, std::string_view section, std::string_view key, int defaultValue) {
    std::lock_guard lock(cacheMutex());
    return freshEntry(path).doc.getInt(section, key, defaultValue);
}

std::vector<std::string> sectionKeys(const std::string& path, std::string_view section,
                                     std::size_t bufferSize) {
    std::lock_guard lock(cacheMutex());
    return freshEntry(path).doc.sectionKeys(section, bufferSize);
}

bool writeString(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view value) {
    return editFile(path, [&](Document& d) { return DocumentAccess::write(d, section, key, value); });
}

bool deleteKey(const std::string& path, std::string_view section, std::string_view key) {
    return editFile(path, [&](Document& d) { return DocumentAccess::deleteKey(d, section, key) ? 1 : 0; });
}

bool deleteSection(const std::string& path, std::string_view section) {
    return editFile(path, [&](Document& d) { return DocumentAccess::deleteSection(d, section) ? 1 : 0; });
}

Transaction::Transaction(std::string path) : m_path(std::move(path)) {
    // The cached document is taken rather than shared, so that the first edit
    // does not copy it whole; a commit caches the result, and a transaction
    // that never commits leaves the file to be read again.
    std::lock_guard lock(cacheMutex());
    m_doc = std::move(freshEntry(m_path).doc);
    cache().erase(m_path);
}

bool Transaction::commit() {
    return save(m_path, m_doc);
}

} // namespace profile

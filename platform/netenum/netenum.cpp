#include "platform/netenum/netenum.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <utility>

namespace netenum {

// One open enumeration: the provider list (provider == nullptr) or one
// container of one provider, listed at the first WNetEnumResourceA.
struct Enumeration {
    struct Entry {
        std::optional<std::string> remoteName;
        std::string comment;
        std::string provider;
        std::uint32_t displayType;
        std::uint32_t usage;
    };
    std::shared_ptr<Provider> provider;
    std::string providerName;
    std::string container;
    std::uint32_t usageFilter = 0;
    bool listed = false;
    Failure failure = Failure::none;
    std::vector<Entry> entries;
    std::size_t next = 0;
};

namespace {

std::mutex g_mutex;
bool g_providersSet = false;
std::vector<std::shared_ptr<Provider>> g_providers;
std::unordered_set<Enumeration*> g_open;

thread_local Failure t_lastFailure = Failure::none;
thread_local std::string t_lastProvider;

bool isOpen(Enumeration* e) {
    std::lock_guard lock(g_mutex);
    return g_open.count(e) != 0;
}

std::size_t stringSize(const std::optional<std::string>& s) {
    return s ? s->size() + 1 : 0;
}

std::size_t entrySize(const Enumeration::Entry& e) {
    return sizeof(NETRESOURCEA) + stringSize(e.remoteName) + e.comment.size() + 1 + e.provider.size() + 1;
}

// Copies s below `top` and moves `top` down to it.
char* packString(const std::string& s, char*& top) {
    top -= s.size() + 1;
    std::memcpy(top, s.c_str(), s.size() + 1);
    return top;
}

char* packString(const std::optional<std::string>& s, char*& top) {
    return s ? packString(*s, top) : nullptr;
}

// Asks the provider for the container and keeps what passes the usage filter.
void list(Enumeration& e) {
    e.listed = true;
    std::vector<Resource> found;
    e.failure = e.provider->enumerate(e.container, found);
    if (e.failure != Failure::none)
        return;
    for (Resource& r : found) {
        if (e.usageFilter != 0 && (r.usage & e.usageFilter) == 0)
            continue;
        e.entries.push_back(
            {std::move(r.remoteName), std::move(r.comment), e.providerName, r.displayType, r.usage});
    }
}

} // namespace

void setProviders(std::vector<std::shared_ptr<Provider>> list) {
    std::lock_guard lock(g_mutex);
    g_providers = std::move(list);
    g_providersSet = true;
}

std::vector<std::shared_ptr<Provider>> providers() {
    {
        std::lock_guard lock(g_mutex);
        if (g_providersSet)
            return g_providers;
    }
    std::vector<std::shared_ptr<Provider>> machine = defaultProviders();
    std::lock_guard lock(g_mutex);
    if (!g_providersSet) {
        g_providers = std::move(machine);
        g_providersSet = true;
    }
    return g_providers;
}

std::uint32_t WNetOpenEnumA(std::uint32_t scope, std::uint32_t /*type*/, std::uint32_t usage,
                            const NETRESOURCEA* start, HANDLE* handle) {
    if (handle == nullptr || scope != RESOURCE_GLOBALNET)
        return ERROR_INVALID_PARAMETER;
    *handle = nullptr;
    const std::vector<std::shared_ptr<Provider>> all = providers();
    auto e = std::make_unique<Enumeration>();
    e->usageFilter = usage & (RESOURCEUSAGE_CONNECTABLE | RESOURCEUSAGE_CONTAINER);
    if (start == nullptr) {
        if (all.empty())
            return ERROR_NO_NETWORK;
        // The providers themselves: known without asking any of them.
        e->listed = true;
        for (const std::shared_ptr<Provider>& p : all)
            e->entries.push_back({std::nullopt, std::string(), p->name(), RESOURCEDISPLAYTYPE_NETWORK,
                                  RESOURCEUSAGE_CONTAINER | RESOURCEUSAGE_RESERVED});
    } else {
        if ((start->dwUsage & RESOURCEUSAGE_CONTAINER) == 0)
            return ERROR_NOT_CONTAINER;
        if (start->lpProvider == nullptr)
            return ERROR_BAD_PROVIDER;
        for (const std::shared_ptr<Provider>& p : all) {
            if (p->name() == start->lpProvider) {
                e->provider = p;
                e->providerName = p->name();
                break;
            }
        }
        if (!e->provider)
            return ERROR_BAD_PROVIDER;
        if (start->lpRemoteName != nullptr && e->providerName != start->lpRemoteName)
            e->container = start->lpRemoteName;
    }
    std::lock_guard lock(g_mutex);
    g_open.insert(e.get());
    *handle = e.release();
    return NO_ERROR;
}

std::uint32_t WNetEnumResourceA(HANDLE handle, std::uint32_t* count, void* buffer,
                                std::uint32_t* bufferSize) {
    if (!isOpen(handle))
        return ERROR_INVALID_HANDLE;
    if (count == nullptr || *count == 0 || bufferSize == nullptr || (buffer == nullptr && *bufferSize != 0))
        return ERROR_INVALID_PARAMETER;
    Enumeration& e = *handle;
    if (!e.listed)
        list(e);
    if (e.failure != Failure::none) {
        t_lastFailure = e.failure;
        t_lastProvider = e.providerName;
        *count = 0;
        return ERROR_EXTENDED_ERROR;
    }
    if (e.next == e.entries.size()) {
        *count = 0;
        return ERROR_NO_MORE_ITEMS;
    }
    char* const base = static_cast<char*>(buffer);
    char* top = base + *bufferSize;
    std::uint32_t written = 0;
    while (written < *count && e.next < e.entries.size()) {
        const Enumeration::Entry& entry = e.entries[e.next];
        const std::size_t needed = entrySize(entry);
        const std::size_t arrayEnd = (written + 1) * sizeof(NETRESOURCEA);
        if (arrayEnd > static_cast<std::size_t>(top - base) ||
            needed - sizeof(NETRESOURCEA) > static_cast<std::size_t>(top - base) - arrayEnd) {
            if (written == 0) {
                *count = 0;
                *bufferSize = static_cast<std::uint32_t>(needed);
                return ERROR_MORE_DATA;
            }
            break;
        }
        NETRESOURCEA r{};
        r.dwScope = RESOURCE_GLOBALNET;
        r.dwType = RESOURCETYPE_ANY;
        r.dwDisplayType = entry.displayType;
        r.dwUsage = entry.usage;
        r.lpLocalName = nullptr;
        r.lpProvider = packString(entry.provider, top);
        r.lpComment = packString(entry.comment, top);
        r.lpRemoteName = packString(entry.remoteName, top);
        std::memcpy(base + written * sizeof(NETRESOURCEA), &r, sizeof r);
        ++written;
        ++e.next;
    }
    *count = written;
    return NO_ERROR;
}

std::uint32_t WNetCloseEnum(HANDLE handle) {
    {
        std::lock_guard lock(g_mutex);
        if (g_open.erase(handle) == 0)
            return ERROR_INVALID_HANDLE;
    }
    delete handle;
    return NO_ERROR;
}

std::uint32_t WNetGetLastErrorA(Failure* failure, std::string* providerName) {
    if (failure != nullptr)
        *failure = t_lastFailure;
    if (providerName != nullptr)
        *providerName = t_lastProvider;
    return NO_ERROR;
}

} // namespace netenum

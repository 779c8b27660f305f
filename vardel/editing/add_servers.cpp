#include "vardel/editing/add_servers.h"

#include "platform/msgbox/msgbox.h"
#include "vardel/resources/string_table.h"

#include <memory>
#include <new>

namespace {

// Closes the enumeration however the listing ends.
struct EnumerationCloser {
    void operator()(netenum::Enumeration* handle) const { netenum::WNetCloseEnum(handle); }
};
using EnumerationHandle = std::unique_ptr<netenum::Enumeration, EnumerationCloser>;

EnumerationHandle open(const char* remoteName, const char* providerName) {
    netenum::HANDLE handle = nullptr;
    if (!remoteName) {
        if (netenum::WNetOpenEnumA(netenum::RESOURCE_GLOBALNET, netenum::RESOURCETYPE_ANY, 0, nullptr,
                                   &handle) != netenum::NO_ERROR)
            return nullptr;
        return EnumerationHandle(handle);
    }
    std::string remote = remoteName;
    std::string provider = remoteName;
    std::string comment;
    netenum::NETRESOURCEA start{};
    start.dwScope = netenum::RESOURCE_GLOBALNET;
    start.dwType = netenum::RESOURCETYPE_ANY;
    start.dwDisplayType = netenum::RESOURCEDISPLAYTYPE_NETWORK;
    start.dwUsage = netenum::RESOURCEUSAGE_RESERVED | netenum::RESOURCEUSAGE_CONTAINER;
    start.lpRemoteName = remote.data();
    start.lpProvider = provider.data();
    // First as the name of a network provider, then as a container of providerName.
    if (netenum::WNetOpenEnumA(netenum::RESOURCE_GLOBALNET, netenum::RESOURCETYPE_ANY, start.dwUsage, &start,
                               &handle) == netenum::NO_ERROR)
        return EnumerationHandle(handle);
    provider = providerName ? providerName : "";
    start.dwUsage = netenum::RESOURCEUSAGE_CONTAINER;
    start.lpComment = comment.data();
    start.lpProvider = provider.data();
    if (netenum::WNetOpenEnumA(netenum::RESOURCE_GLOBALNET, netenum::RESOURCETYPE_ANY, start.dwUsage, &start,
                               &handle) == netenum::NO_ERROR)
        return EnumerationHandle(handle);
    return nullptr;
}

void noMemory(const std::string& caption, msgbox::Icon icon) {
    msgbox::show(nullptr, LoadString(IDS_NO_MEMORY), caption, msgbox::Buttons::Ok, icon);
}

} // namespace

int GetListOfResources(std::list<ResourceEntry>& list, const char* remoteName, const char* providerName,
                       netenum::Failure* failure) {
    if (failure)
        *failure = netenum::Failure::none;
    EnumerationHandle handle = open(remoteName, providerName);
    if (!handle)
        return -1;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kEnumerationBufferSize]());
    if (!buffer) {
        noMemory("GetListOfResources", msgbox::Icon::None);
        return -1;
    }
    std::uint32_t count = 0xFFFFFFFF;
    std::uint32_t size = kEnumerationBufferSize;
    const std::uint32_t result = netenum::WNetEnumResourceA(handle.get(), &count, buffer.get(), &size);
    if (result != netenum::NO_ERROR) {
        if (result == netenum::ERROR_EXTENDED_ERROR && failure) {
            std::string provider;
            netenum::WNetGetLastErrorA(failure, &provider);
        }
        return -1;
    }
    const auto* entries = reinterpret_cast<const netenum::NETRESOURCEA*>(buffer.get());
    try {
        for (std::uint32_t i = 0; i < count; ++i) {
            const netenum::NETRESOURCEA& entry = entries[i];
            const char* name = entry.lpRemoteName ? entry.lpRemoteName : entry.lpProvider;
            list.push_back(ResourceEntry{name ? name : "", entry.dwDisplayType});
        }
    } catch (const std::bad_alloc&) {
        noMemory(LoadString(IDS_PRODUCT_TITLE), msgbox::Icon::Error);
        return -1;
    }
    return 1;
}

#pragma once
// Network enumeration in the shape of the Windows networking calls: the
// providers at the top, their containers (workgroups, networks), their
// servers. Each provider is a plug-in; the machine's are the SMB browse
// lists ("Microsoft Windows Network") and SAP ("NetWare Network").

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace netenum {

inline constexpr std::uint32_t RESOURCE_GLOBALNET = 2;
inline constexpr std::uint32_t RESOURCETYPE_ANY = 0;
inline constexpr std::uint32_t RESOURCEUSAGE_CONNECTABLE = 1;
inline constexpr std::uint32_t RESOURCEUSAGE_CONTAINER = 2;
inline constexpr std::uint32_t RESOURCEUSAGE_RESERVED = 0x80000000;
inline constexpr std::uint32_t RESOURCEDISPLAYTYPE_GENERIC = 0;
inline constexpr std::uint32_t RESOURCEDISPLAYTYPE_DOMAIN = 1;
inline constexpr std::uint32_t RESOURCEDISPLAYTYPE_SERVER = 2;
inline constexpr std::uint32_t RESOURCEDISPLAYTYPE_NETWORK = 6;

inline constexpr std::uint32_t NO_ERROR = 0;
inline constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr std::uint32_t ERROR_BAD_NET_NAME = 67;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_MORE_DATA = 234;
inline constexpr std::uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr std::uint32_t ERROR_BAD_PROVIDER = 1204;
inline constexpr std::uint32_t ERROR_NOT_CONTAINER = 1207;
inline constexpr std::uint32_t ERROR_EXTENDED_ERROR = 1208;
inline constexpr std::uint32_t ERROR_NO_NETWORK = 1222;

// One resource as the enumeration returns it; the strings point into the
// caller's buffer (packed from its end).
struct NETRESOURCEA {
    std::uint32_t dwScope;
    std::uint32_t dwType;
    std::uint32_t dwDisplayType;
    std::uint32_t dwUsage;
    char* lpLocalName;
    char* lpRemoteName;
    char* lpComment;
    char* lpProvider;
};

struct Enumeration;
using HANDLE = Enumeration*;

// What a provider reports for one resource under a container.
struct Resource {
    std::string remoteName; // "WORKGROUP", "\\SERVER1"
    std::string comment;
    std::uint32_t displayType = RESOURCEDISPLAYTYPE_GENERIC;
    std::uint32_t usage = RESOURCEUSAGE_CONTAINER;
};

// Why a provider could not list a container (WNetGetLastErrorA's code).
enum class Failure : std::uint32_t {
    none = 0,
    noSuchContainer = 1,
    noNetwork = 2,      // nothing answers (no IPX, no reachable browser)
    protocolRefused = 3 // the peers refuse the protocol browsing needs (SMB1)
};

class Provider {
public:
    virtual ~Provider() = default;
    virtual std::string name() const = 0;
    // The resources directly under `container`; the provider's top level
    // when `container` is empty. May block for as long as the network takes;
    // called from any thread.
    virtual Failure enumerate(const std::string& container, std::vector<Resource>& out) = 0;
};

// The providers, in enumeration order. By default the machine's own; tests
// replace them.
void setProviders(std::vector<std::shared_ptr<Provider>> providers);
std::vector<std::shared_ptr<Provider>> providers();
// The machine's own providers, in enumeration order (what providers() gives
// until setProviders is called).
std::vector<std::shared_ptr<Provider>> defaultProviders();

// start == nullptr: the providers themselves. Otherwise start->lpProvider
// names the provider (ERROR_BAD_PROVIDER when none has that name) and
// start->lpRemoteName the container; a remote name equal to the provider's
// name means the provider's top level. The provider is asked at the first
// WNetEnumResourceA, which returns ERROR_EXTENDED_ERROR when it failed
// (WNetGetLastErrorA tells why) and ERROR_NO_MORE_ITEMS once everything has
// been returned (at once for an empty container).
// Only RESOURCE_GLOBALNET is enumerated; ERROR_NOT_CONTAINER when start's
// usage lacks RESOURCEUSAGE_CONTAINER, ERROR_NO_NETWORK when there is no
// provider. A usage of RESOURCEUSAGE_CONTAINER or RESOURCEUSAGE_CONNECTABLE
// keeps only such resources. A handle serves one thread at a time.
std::uint32_t WNetOpenEnumA(std::uint32_t scope, std::uint32_t type, std::uint32_t usage,
                            const NETRESOURCEA* start, HANDLE* handle);
// Fills buffer with as many entries as fit, up to *count; sets *count to the
// number written. ERROR_MORE_DATA (with *bufferSize the size needed) when not
// even the next entry fits.
std::uint32_t WNetEnumResourceA(HANDLE handle, std::uint32_t* count, void* buffer, std::uint32_t* bufferSize);
std::uint32_t WNetCloseEnum(HANDLE handle);
// The calling thread's last provider failure and the provider's name.
std::uint32_t WNetGetLastErrorA(Failure* failure, std::string* providerName);

} // namespace netenum

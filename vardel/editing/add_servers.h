#pragma once
// Network browsing for the Add Servers dialog: the resources directly under
// one start point of the network enumeration.

#include "platform/netenum/netenum.h"

#include <cstdint>
#include <list>
#include <string>

// One resource found: its remote name (its provider's name when it has
// none) and its display type (2 server, 6 network, ...).
struct ResourceEntry {
    std::string name;
    std::uint32_t displayType = netenum::RESOURCEDISPLAYTYPE_GENERIC;
};

// The work buffer of one enumeration; what does not fit into it is not listed.
inline constexpr std::uint32_t kEnumerationBufferSize = 200000;

// Appends the resources under remoteName to list: the network providers when
// remoteName and providerName are both null; else remoteName taken first as a
// provider's name, then as a container of providerName. 1 on success, -1 on
// any failure (silent, but for a failed allocation). failure, when given,
// receives why the provider could not list the container.
int GetListOfResources(std::list<ResourceEntry>& list, const char* remoteName, const char* providerName,
                       netenum::Failure* failure = nullptr);

#pragma once
// Edits of a document that tell what they did, for the per-path calls; not
// part of the library's interface.

#include "platform/profile/profile.h"

#include <memory>
#include <string_view>

namespace profile {

struct DocumentAccess {
    // -1: refused (not a usable name); 0: the value was already there; 1: written.
    static int write(Document& d, std::string_view section, std::string_view key, std::string_view value);
    // True when there was something to delete.
    static bool deleteKey(Document& d, std::string_view section, std::string_view key);
    static bool deleteSection(Document& d, std::string_view section);
    // Shared by every document that has no content of its own.
    static const std::shared_ptr<Document::Impl>& emptyImpl();
};

} // namespace profile

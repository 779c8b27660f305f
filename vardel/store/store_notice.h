#pragma once
// What the store has to tell the user reaches it through a sink that the
// application installs; the store itself shows nothing.

#include <functional>
#include <string>

namespace store {

enum class NoticeLevel { Warning, Error };

using NoticeSink =
    std::function<void(const std::string& text, const std::string& caption, NoticeLevel level)>;

// Installed once at start-up, before any other thread reads the store.
// Without a sink a notice is dropped.
void setNoticeSink(NoticeSink sink);

void notify(const std::string& text, const std::string& caption, NoticeLevel level);

} // namespace store

#include "vardel/store/store_notice.h"

#include <utility>

namespace store {
namespace {
NoticeSink& sink() {
    static NoticeSink installed;
    return installed;
}
} // namespace

void setNoticeSink(NoticeSink s) {
    sink() = std::move(s);
}

void notify(const std::string& text, const std::string& caption, NoticeLevel level) {
    if (sink())
        sink()(text, caption, level);
}

} // namespace store

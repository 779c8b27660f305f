#include "exchange.h"
#include "profile.h"

namespace webcall {

bool isServerList(std::string_view body) {
    if (body.size() >= kMaxListSize || body.find('\0') != std::string_view::npos)
        return false;
    const profile::Document doc = profile::Document::parse(body);
    return doc.hasSection("SERVERS") || doc.hasSection("ServerInfo");
}

} // namespace webcall

#include "platform/profile/profile.h"
#include "platform/text/trim.h"
#include "webcall/exchange.h"

#include <limits>

namespace webcall {

namespace {

std::string_view trimmedLine(std::string_view s) {
    return text::trim(s, " \t\r");
}

// Every line whole (the last one ended too) and each a blank line, a comment,
// a section header or a key with '=' inside a section.
bool wholeLines(std::string_view body) {
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    if (body.empty() || body.back() != '\n')
        return false;
    bool inSection = false;
    while (!body.empty()) {
        const std::size_t end = body.find('\n');
        const std::string_view line = trimmedLine(body.substr(0, end));
        body.remove_prefix(end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']')
                return false;
            inSection = true;
            continue;
        }
        const std::size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos || trimmedLine(line.substr(0, eq)).empty())
            return false;
    }
    return true;
}

} // namespace

bool isServerList(std::string_view body) {
    if (body.size() >= kMaxListSize || body.find('\0') != std::string_view::npos || !wholeLines(body))
        return false;
    const profile::Document doc = profile::Document::parse(body);
    if (!doc.hasSection("SERVERS") && !doc.hasSection("ServerInfo"))
        return false;
    const std::vector<std::string> names =
        doc.sectionKeys("SERVERS", std::numeric_limits<std::size_t>::max());
    // A count of servers with no [SERVERS] to hold them: the list was lost on the way.
    if (names.empty() && doc.getInt("ServerInfo", "NumServers", 0) > 0)
        return false;
    for (const std::string& name : names)
        if (!profile::isPortableName(name) || !doc.hasSection(name))
            return false;
    return true;
}

} // namespace webcall

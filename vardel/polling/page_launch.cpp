#include "vardel/polling/page_launch.h"

#include "platform/desktop/desktop.h"
#include "platform/msgbox/msgbox.h"
#include "platform/registry/registry.h"
#include "vardel/resources/string_table.h"

std::string ServerPageUrl(const ConsoleSettings& settings, const std::string& serverName) {
    std::string url = settings.useSsl == 1 ? "https://" : "http://";
    url += settings.managementServerName;
    if (settings.useSsl != 1)
        url += ":" + std::to_string(settings.port);
    url += "/kvtl/apps/server/status.html?server=";
    url += serverName;
    return url;
}

int FindBrowser(const std::string& regPath, std::string& browser) {
    const std::string command = desktop::defaultHtmlCommandLine();
    // The first blank-separated token.
    const auto start = command.find_first_not_of(' ');
    if (start == std::string::npos)
        return -1;
    const auto end = command.find(' ', start);
    const std::string token =
        command.substr(start, end == std::string::npos ? std::string::npos : end - start);
    auto key = registry::Key::open(regPath);
    if (!key)
        return 0;
    key->write("Browser", token, 258);
    key->close();
    browser = token.substr(0, 255);
    return 0;
}

void OpenServerPage(const ConsoleSettings& settings, const std::string& serverName) {
    if (!desktop::openUri(ServerPageUrl(settings, serverName)))
        msgbox::show(nullptr, LoadString(IDS_LAUNCH_FAILED), LoadString(IDS_PRODUCT_TITLE));
}

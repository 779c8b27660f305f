#pragma once
// The management page of a managed server, opened in the desktop's browser.

#include "vardel/store/console_settings.h"

#include <string>

// The status page URL of a server on the management server.
std::string ServerPageUrl(const ConsoleSettings& settings, const std::string& serverName);

// The first blank-separated token of the desktop's command for HTML files,
// also written as "Browser" into the console's registry key (regPath).
// 0 when found, -1 when none.
int FindBrowser(const std::string& regPath, std::string& browser);

// Opens ServerPageUrl in the browser; shows string 159 when that fails.
void OpenServerPage(const ConsoleSettings& settings, const std::string& serverName);

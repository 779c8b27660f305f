#pragma once
// The desktop's default applications, through GIO.

#include <string>

namespace desktop {

// The command line (the Exec line) of the default application for HTML
// documents; empty when there is none.
std::string defaultHtmlCommandLine();

// Opens uri with the desktop's default handler for it (its scheme, or for a
// file the type of its content). The URI reaches the handler as one argument;
// no shell sees it. False when no handler exists or it cannot be started.
bool openUri(const std::string& uri);

} // namespace desktop

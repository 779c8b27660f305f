#pragma once
// Help files. A help file X.hlp is served by its HTML rendition X.html beside
// it, opened in the desktop's viewer; a help context is the anchor #<context>.
// A relative help path is taken relative to the program directory.

#include <functional>
#include <string>

class QWidget;

namespace help {

// Opens the help file at its contents page. 0 when the viewer was started;
// -1 when it was not, after telling the user why (message box owned by owner).
int openHelpContents(QWidget* owner, const std::string& hlpPath);

// Opens the help file at the topic contextId; results as openHelpContents.
int openHelpContext(QWidget* owner, const std::string& hlpPath, unsigned long contextId);

// Starts the viewer for a URI; true when it started.
using Launcher = std::function<bool(const std::string& uri)>;
// Replaces the launcher (by default the desktop's handler for the URI); an empty
// launcher restores the default.
void setLauncher(Launcher launcher);

} // namespace help

#include "help.h"

#include "desktop.h"
#include "msgbox.h"
#include "progdir.h"

#include <QFile>
#include <QString>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <system_error>

namespace help {

namespace {

namespace fs = std::filesystem;

const char kCaption[] = "Help";

Launcher& launcher() {
    static Launcher instance;
    return instance;
}

// The HTML rendition of a help file: same directory and base name, extension .html.
fs::path rendition(const std::string& hlpPath) {
    fs::path path(hlpPath);
    if (path.is_relative())
        path = fs::path(progdir::programDirectory()) / path;
    path.replace_extension(".html");
    return path;
}

std::string fileUri(const fs::path& file, std::optional<unsigned long> contextId) {
    QUrl url = QUrl::fromLocalFile(QFile::decodeName(file.c_str()));
    if (contextId)
        url.setFragment(QString::number(*contextId));
    return url.toString(QUrl::FullyEncoded).toStdString();
}

int open(QWidget* owner, const std::string& hlpPath, std::optional<unsigned long> contextId) {
    const fs::path file = rendition(hlpPath);
    std::error_code ec;
    if (hlpPath.empty() || !fs::is_regular_file(file, ec)) {
        msgbox::show(owner, "Cannot find the help file " + file.string() + ".", kCaption, msgbox::Buttons::Ok,
                     msgbox::Icon::Error);
        return -1;
    }
    const std::string uri = fileUri(file, contextId);
    const bool started = launcher() ? launcher()(uri) : desktop::openUri(uri);
    if (!started) {
        msgbox::show(owner,
                     "Cannot open the help file " + file.string() +
                         ": no viewer for HTML files could be started.",
                     kCaption, msgbox::Buttons::Ok, msgbox::Icon::Error);
        return -1;
    }
    return 0;
}

} // namespace

int openHelpContents(QWidget* owner, const std::string& hlpPath) {
    return open(owner, hlpPath, std::nullopt);
}

int openHelpContext(QWidget* owner, const std::string& hlpPath, unsigned long contextId) {
    return open(owner, hlpPath, contextId);
}

void setLauncher(Launcher launcher) {
    help::launcher() = std::move(launcher);
}

} // namespace help

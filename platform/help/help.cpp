#include "platform/help/help.h"

#include "platform/desktop/desktop.h"
#include "platform/msgbox/msgbox.h"
#include "platform/progdir/progdir.h"

#include <QFile>
#include <QString>
#include <QUrl>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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

// A regular file that can be read. The open does not wait: a FIFO in the
// file's place is no help file.
bool readableRegularFile(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

int open(QWidget* owner, const std::string& hlpPath, std::optional<unsigned long> contextId) {
    const fs::path file = rendition(hlpPath);
    if (hlpPath.empty() || !readableRegularFile(file)) {
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

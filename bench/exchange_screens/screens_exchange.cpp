// Draws the management-server prompt (countdown running and stopped) and the
// credentials dialog offscreen and saves them as management_server_prompt.png,
// management_server_prompt_stopped.png and credentials.png in the given directory.

#include "management_exchange.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <cstdio>

namespace {

bool save(QWidget& dialog, const QDir& out, const char* file) {
    dialog.show();
    QApplication::processEvents();
    const QString path = out.filePath(QString::fromLatin1(file));
    if (!dialog.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(".")) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }

    // The countdown as it opens, and after Stop Timer.
    CManagementServerDlg running(nullptr, "ms.example", 1);
    if (!save(running, out, "management_server_prompt.png"))
        return 1;
    running.hide();
    CManagementServerDlg stopped(nullptr, "ms.example", 1);
    stopped.OnStopTimer();
    if (!save(stopped, out, "management_server_prompt_stopped.png"))
        return 1;

    CCredentialsDlg credentials(nullptr, "ms.example");
    credentials.findChild<QLineEdit*>("userNameEdit")->setText("anna");
    credentials.findChild<QLineEdit*>("passwordEdit")->setText("secret");
    return save(credentials, out, "credentials.png") ? 0 : 1;
}

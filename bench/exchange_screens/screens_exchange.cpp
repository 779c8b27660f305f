// Draws the management-server prompt (countdown running and stopped) and the
// credentials dialog offscreen and saves them as management_server_prompt.png,
// management_server_prompt_stopped.png and credentials.png in the given directory.

#include "bench/support/screenshots.h"
#include "vardel/shell/management_exchange.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>

namespace {

bool save(QWidget& dialog, const QDir& out, const char* file) {
    dialog.show();
    return screenshots::save(dialog, out, file);
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<QDir> out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The countdown as it opens, and after Stop Timer.
    CManagementServerDlg running(nullptr, "ms.example", 1);
    if (!save(running, *out, "management_server_prompt.png"))
        return 1;
    running.hide();
    CManagementServerDlg stopped(nullptr, "ms.example", 1);
    stopped.OnStopTimer();
    if (!save(stopped, *out, "management_server_prompt_stopped.png"))
        return 1;

    CCredentialsDlg credentials(nullptr, "ms.example");
    credentials.findChild<QLineEdit*>("userNameEdit")->setText("anna");
    credentials.findChild<QLineEdit*>("passwordEdit")->setText("secret");
    return save(credentials, *out, "credentials.png") ? 0 : 1;
}

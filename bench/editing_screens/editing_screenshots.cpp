// Draws the server dialogs and Advanced Options offscreen, each with typical
// input, and saves them as PNG files in the given directory.

#include "advanced_options_dialog.h"
#include "screenshots.h"
#include "server_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

namespace {

template <typename T> T* control(QWidget* root, int id) {
    for (T* widget : root->findChildren<T*>())
        if (widget->property("ctlId").toInt() == id)
            return widget;
    return nullptr;
}

bool save(QDialog& dialog, const QDir& out, const char* file) {
    dialog.show();
    const bool saved = screenshots::save(dialog, out, file);
    dialog.hide();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<QDir> out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = true;

    CAddServersManuallyDlg manual;
    control<QRadioButton>(&manual, 1019)->setChecked(true);
    control<QPlainTextEdit>(&manual, 1022)->setPlainText("srv-files\nsrv-mail\nsrv-print");
    ok &= save(manual, *out, "add_servers_manually.png");

    CEnterIpAddressDlg ip(nullptr, "SRV-MAIL");
    control<QLineEdit>(&ip, 1024)->setText("10.1.1.20");
    ok &= save(ip, *out, "enter_ip_address.png");

    CEnterAddressDlg address(nullptr, "NW-FILES");
    control<QLineEdit>(&address, 1050)->setText("D5533216-000000000001");
    ok &= save(address, *out, "enter_address.png");

    CEditServerInfoDlg edit(nullptr, "SRV-FILES", "NT", "10.1.1.21", "", "public");
    ok &= save(edit, *out, "edit_server_info.png");

    AdvancedOptions options;
    options.managementServerName = "CORVANTA-MS";
    options.playSound = 1;
    options.soundFile = "newmail.wav";
    CAdvancedOptionsDlg advanced(nullptr, options);
    ok &= save(advanced, *out, "advanced_options.png");
    return ok ? 0 : 1;
}

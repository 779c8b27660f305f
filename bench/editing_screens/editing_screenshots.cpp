// Draws the server dialogs and Advanced Options offscreen, each with typical
// input, and saves them as PNG files in the given directory.

#include "advanced_options_dialog.h"
#include "server_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <cstdio>

namespace {

template <typename T> T* control(QWidget* root, int id) {
    for (T* widget : root->findChildren<T*>())
        if (widget->property("ctlId").toInt() == id)
            return widget;
    return nullptr;
}

bool save(QDialog& dialog, const QDir& out, const char* file) {
    dialog.show();
    QApplication::processEvents();
    const QString path = out.filePath(QString::fromLatin1(file));
    const bool saved = dialog.grab().save(path);
    std::printf("%s\n", qPrintable(path));
    dialog.hide();
    if (!saved)
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return saved;
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
    bool ok = true;

    CAddServersManuallyDlg manual;
    control<QRadioButton>(&manual, 1019)->setChecked(true);
    control<QPlainTextEdit>(&manual, 1022)->setPlainText("srv-files\nsrv-mail\nsrv-print");
    ok &= save(manual, out, "add_servers_manually.png");

    CEnterIpAddressDlg ip(nullptr, "SRV-MAIL");
    control<QLineEdit>(&ip, 1024)->setText("10.1.1.20");
    ok &= save(ip, out, "enter_ip_address.png");

    CEnterAddressDlg address(nullptr, "NW-FILES");
    control<QLineEdit>(&address, 1050)->setText("D5533216-000000000001");
    ok &= save(address, out, "enter_address.png");

    CEditServerInfoDlg edit(nullptr, "SRV-FILES", "NT", "10.1.1.21", "", "public");
    ok &= save(edit, out, "edit_server_info.png");

    AdvancedOptions options;
    options.managementServerName = "CORVANTA-MS";
    options.playSound = 1;
    options.soundFile = "newmail.wav";
    CAdvancedOptionsDlg advanced(nullptr, options);
    ok &= save(advanced, out, "advanced_options.png");
    return ok ? 0 : 1;
}

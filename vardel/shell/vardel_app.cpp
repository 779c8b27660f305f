#include "vardel/shell/vardel_app.h"

#include "platform/msgbox/msgbox.h"
#include "vardel/resources/string_table.h"
#include "vardel/shell/single_instance.h"
#include "vardel/shell/vardel_tabs.h"
#include "vardel/store/program_env.h"

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <new>

namespace {

// Icon 139: the console's window icon, a red alert bell on a blue tile.
QIcon programIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 64, 160));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(1, 1, 30, 30, 6, 6);
    p.setBrush(QColor(210, 0, 0));
    p.drawPie(7, 6, 18, 22, 0, 180 * 16);
    p.drawRect(7, 16, 18, 6);
    p.setBrush(QColor(255, 220, 0));
    p.drawEllipse(13, 22, 6, 6);
    return QIcon(pixmap);
}

} // namespace

int RunVardel(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string& title = LoadString(IDS_PRODUCT_TITLE);
    // Every window and box carries the program's icon, the first box included.
    app.setWindowIcon(programIcon());

    SingleInstance instance(title);
    if (!instance.acquire()) {
        msgbox::show(nullptr, LoadString(IDS_ALREADY_RUNNING), title);
        // Then the running console comes forward, with this start's activation token.
        std::string token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN").toStdString();
        if (token.empty())
            token = qEnvironmentVariable("DESKTOP_STARTUP_ID").toStdString();
        instance.askToRaise(token);
        return 0;
    }

    StartupOptions options;
    options.programDirectory = ProgramDirectory();
    options.trayStatus = true;
    options.windowStatePath =
        (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/vardel/window.ini")
            .toStdString();
    auto* sheet = new (std::nothrow) CVardelTabs(std::move(options));
    if (!sheet) {
        msgbox::show(nullptr, LoadString(IDS_NO_MEMORY), title, msgbox::Buttons::Ok, msgbox::Icon::Error);
        return 0;
    }
    sheet->setAttribute(Qt::WA_DeleteOnClose, false);
    sheet->setWindowIcon(programIcon());
    QObject::connect(sheet, &CVardelTabs::ended, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    sheet->OnInitDialog();
    instance.listenForRaise([sheet](const std::string& token) { sheet->ShowConsoleFor(token); });
    sheet->show();
    const int rc = app.exec();
    delete sheet;
    return rc;
}

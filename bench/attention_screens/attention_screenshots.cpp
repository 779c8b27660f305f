// Starts an XEmbed tray (trayer) and a notification daemon (dunst) on the
// display, shows the console's status-area icon and one desktop notification
// of a critical alert, and saves the top right of the screen as PNG files.

#include "vardel/attention/desktop_notifier.h"
#include "vardel/attention/tests/bus_peers.h"
#include "vardel/attention/tray_status.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>

namespace {

// Lets the daemons draw what they were just told.
void settle() {
    waitUntil([] { return false; }, 1500);
}

bool saveTopRight(const QString& path, int width, int height) {
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    return screen.copy(screen.width() - width, 0, width, height).save(path);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: attention_screenshots <directory>\n", stderr);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir dir;
    const QString config = dir.filePath("dunstrc");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(
        "[global]\n    monitor = 0\n    idle_threshold = 0\n    origin = top-right\n"
        "    offset = 10x50\n    width = 360\n    font = DejaVu Sans 10\n"
        "[urgency_critical]\n    timeout = 0\n    background = \"#3a0000\"\n    frame_color = \"#d20000\"\n");
    file.close();
    QProcess tray, dunst;
    tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
                          "--heighttype", "pixel", "--height", "32", "--transparent", "false", "--tint",
                          "0x303030", "--SetDockType", "true"});
    dunst.start("dunst", {"-config", config});
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!waitUntil([] { return busNameOwned("org.freedesktop.Notifications"); }, 20000)) {
        std::fputs("attention_screenshots: dunst did not start\n", stderr);
        return 1;
    }

    TrayStatus status({}, bus);
    status.show({AttentionLevel::critical, 3, 1});
    status.start();
    if (!waitUntil([&] { return status.iconShown(); }, 20000)) {
        std::fputs("attention_screenshots: no status area\n", stderr);
        return 1;
    }
    settle();
    bool ok = saveTopRight(out.filePath("tray_critical.png"), 160, 40);
    status.show({AttentionLevel::warning, 2, 0});
    settle();
    ok &= saveTopRight(out.filePath("tray_warning.png"), 160, 40);

    DesktopNotifier notifier(bus);
    notifier.setEnabled(true);
    AlertRecord alert;
    alert.serverName = "SRV-FILES";
    alert.alertText = "Fan fan3 failed on cpu";
    alert.severity = kSeverityCritical;
    notifier.notify(alert);
    waitUntil([&] { return notifier.idle(); }, 10000);
    status.show({AttentionLevel::critical, 3, 1});
    settle();
    ok &= saveTopRight(out.filePath("notification_critical.png"), 420, 170);
    tray.kill();
    dunst.kill();
    tray.waitForFinished();
    dunst.waitForFinished();
    return ok ? 0 : 1;
}

// Screenshots of the Server Status tab during and after a poll cycle and of
// the server chooser, from a console polling snmpd on loopback addresses.
//
//   scripts/in-netns build/bench/status_screenshots docs/screenshots

#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/quiet_policy.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/polling/unknown_senders_dialog.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QMenu>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
    const std::string out = argc > 1 ? std::string(argv[1]) + "/" : std::string("./");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    msgbox::ScopedScript boxes;

    const testsupport::TempDir programDir;
    const std::string& dir = programDir.path();
    testsupport::copyProgramData(dir);
    testsupport::SnmpdPeer agent(dir, "agentaddress udp:127.0.0.2:161,udp:127.0.0.3:161,udp:127.0.0.4:161\n"
                                      "rocommunity public\n");
    // WEBSRV's agent is silent while its host answers; NWSRV is reachable over IPX only.
    std::ofstream ini(dir + "rlaweb.ini");
    ini << "[ServerInfo]\r\nNumServers=5\r\n[SERVERS]\r\n";
    const char* servers[][3] = {{"NWSRV", "", "0000ABCD-00A0C9112233"},
                                {"WEBSRV", "127.0.0.5", ""},
                                {"PRINTSRV", "127.0.0.4", ""},
                                {"FILESRV", "127.0.0.3", ""},
                                {"MAILSRV", "127.0.0.2", ""}};
    for (const auto& s : servers)
        ini << s[0] << "=1\r\n";
    for (const auto& s : servers)
        ini << "[" << s[0] << "]\r\nNOS=NT\r\nIP=" << s[1] << "\r\nIPX=" << s[2]
            << "\r\nSNMP_COMMUNITY=public\r\n";
    ini << "[VDINFO]\r\nRETRY=1\r\nTIMEOUT=50\r\nPOLLTIME=60\r\n";
    ini.close();

    if (!agent.ready("127.0.0.2:161", "public")) {
        std::fprintf(stderr, "snmpd did not start\n");
        return 1;
    }

    CVardelTabs console(fixedhost::quietConsoleAtLoopback(dir));
    console.OnInitDialog();
    console.resize(720, 420);
    console.show();
    const auto settled = [&] {
        for (const auto& s : console.servers())
            if (s->pollPending != 0 || s->networkStatus == "INIT")
                return false;
        return true;
    };
    // The state alerts of the first cycle pop up the notify window; keep it out of the way.
    bool ok = QTest::qWaitFor(settled, 60000);
    console.notifyWindow()->hide();
    console.statusTab()->OnSetActive();

    // The next cycle, caught right after the poll timer's handler has run.
    bool during = false;
    QObject::connect(&console.pollTimer(), &QTimer::timeout, [&] {
        if (!during) {
            during = console.grab().save(QString::fromStdString(out + "server_status_during_cycle.png"));
        }
    });
    console.pollTimer().start(0);
    ok = QTest::qWaitFor([&] { return during; }, 5000) && ok;
    ok = QTest::qWaitFor(settled, 60000) && ok;
    QTest::qWait(200);
    console.notifyWindow()->hide();
    const bool after = console.grab().save(QString::fromStdString(out + "server_status_after_cycle.png"));

    std::list<std::string> up;
    CollectServerNamesBySnmpStatus(console.servers(), up, "UP");
    CServerListDlg chooser(&console, up, 0);
    chooser.show();
    QApplication::processEvents();
    const bool chooserShot = chooser.grab().save(QString::fromStdString(out + "server_chooser.png"));

    UnknownSenders& senders = *console.unknownSenders();
    senders.count("10.1.7.33", "IF-MIB::linkDown", "December 10, 2026, 20:31:07");
    for (int i = 0; i < 4; ++i)
        senders.count("10.1.9.2", "1.3.6.1.4.1.2636.4.1.1", "December 10, 2026, 20:34:52");
    CUnknownSendersDlg unknown(&console, senders, console.settings().programDirectory,
                               [](const std::string&) {});
    unknown.show();
    QApplication::processEvents();
    const bool unknownShot = unknown.grab().save(QString::fromStdString(out + "unknown_senders.png"));

    unknown.hide();

    // WEBSRV snoozed for an hour from the grid's menu, FILESRV flapping.
    std::unique_ptr<QMenu> menu = console.statusTab()->snoozeMenuFor("WEBSRV");
    menu->actions().at(0)->menu()->actions().at(1)->trigger();
    QuietPolicy& quiet = console.quietPolicy();
    quiet.setFlapping({true, 4, 15});
    for (int i = 0; i < 5; ++i)
        quiet.recordChange("FILESRV", std::time(nullptr));
    console.statusTab()->RefreshAttention();
    console.resize(980, 420);
    QApplication::processEvents();
    const bool snoozeShot = console.grab().save(QString::fromStdString(out + "server_status_snooze.png"));

    // A dark desktop palette: the grid and the notify window.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(53, 53, 53));
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    QApplication::setPalette(dark);
    QApplication::processEvents();
    const bool darkStatus = console.grab().save(QString::fromStdString(out + "server_status_dark.png"));
    CNotifyWindow& notify = *console.notifyWindow();
    notify.ShowAlert(console.alertStore().count);
    QApplication::processEvents();
    const bool darkNotify = notify.grab().save(QString::fromStdString(out + "notify_dark.png"));
    notify.hide();

    std::printf(
        "screenshots %s: during %d, after %d, chooser %d, unknown senders %d, snooze %d, dark %d %d\n",
        ok ? "taken" : "taken (cycle incomplete)", during, after, chooserShot, unknownShot, snoozeShot,
        darkStatus, darkNotify);
    return ok && during && after && chooserShot && unknownShot && snoozeShot && darkStatus && darkNotify ? 0
                                                                                                         : 2;
}

// Pictures for the README, made by hand: the Alerts page with 1,000 alerts
// grouped and filtered, and the maximised window over 200 servers.
//
//   build/bench/alerts_screenshots docs/screenshots

#include "bench/support/screenshots.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "vardel/alerts/alerts_page.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/shell/vardel_tabs.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    msgbox::ScopedScript boxes;

    char dirTemplate[] = "/tmp/vardel-shots-XXXXXX";
    const std::string dir = std::string(mkdtemp(dirTemplate)) + "/";
    std::ofstream(dir + "VDTrap.ini")
        << "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=acme.ini\r\n";
    std::ofstream(dir + "acme.ini")
        << "[1.3.6.1.4.1.9999.1]\r\nTrapString=Fan failure\r\nAlarmString=Fan %1 failed\r\n"
           "Severity=CRITICAL\r\n"
           "[1.3.6.1.4.1.9999.2]\r\nTrapString=Disk space low\r\n"
           "AlarmString=Volume %1 is 95% full\r\nSeverity=WARNING\r\n"
           "[1.3.6.1.4.1.9999.3]\r\nTrapString=Backup finished\r\n"
           "AlarmString=Backup of %1 finished\r\nSeverity=INFORMATIONAL\r\n"
           "[1.3.6.1.4.1.9999.4]\r\nTrapString=Fan restored\r\n"
           "AlarmString=Fan %1 running again\r\nSeverity=NORMAL\r\n";
    {
        std::ofstream ini(dir + "rlaweb.ini");
        ini << "[ServerInfo]\r\nNumServers=200\r\n[SERVERS]\r\n";
        for (int i = 1; i <= 200; ++i)
            ini << "SRV" << (i < 10 ? "00" : i < 100 ? "0" : "") << i << "=1\r\n";
        for (int i = 1; i <= 200; ++i)
            ini << "[SRV"
                << (i < 10    ? "00"
                    : i < 100 ? "0"
                              : "")
                << i << "]\r\nNOS=NT\r\nIP=10.1." << i / 250 << "." << i % 250
                << "\r\nSNMP_COMMUNITY=public\r\n";
        ini << "[CLIENTS]\r\nNumClients=1\r\nCONSOLE1=CLIENT1\r\n[CLIENT1]\r\n";
        for (int i = 1; i <= 200; ++i)
            ini << "SRV"
                << (i < 10    ? "00"
                    : i < 100 ? "0"
                              : "")
                << i << "=" << (i % 37 == 0 ? -1 : 1) << "\r\n";
    }
    StartupOptions options;
    options.programDirectory = dir;
    options.startTrapListener = false;
    fixedhost::name = "CONSOLE1";
    options.host = fixedhost::library();
    options.windowStatePath = dir + "window.ini";
    CVardelTabs console(options);
    console.OnInitDialog();
    console.firstPollTimer().stop();
    console.pollTimer().stop();
    SilentAnnouncer silent;
    AlertStore& store = console.alertStore();
    store.setAnnouncer(&silent);
    for (auto& server : console.servers()) {
        // By the number in its name: the list holds the servers in the
        // reverse of their order in the file.
        const int n = std::stoi(server->name.substr(3));
        server->pollPending = 0;
        server->snmpStatus = n % 23 == 0 ? "DOWN" : "UP";
        server->networkStatus = n % 46 == 0 ? "DOWN" : "UP";
    }
    const char* units[] = {"fan1", "fan2", "vol0", "vol1", "tape"};
    for (int i = 0; i < 1000; ++i) {
        auto r = std::make_unique<AlertRecord>();
        r->origin = kOriginTrap;
        const int s = (i * 7) % 40 + 1;
        r->serverName = std::string("SRV0") + (s < 10 ? "0" : "") + std::to_string(s);
        r->enterprise = "1.3.6.1.4.1.9999";
        const int kind = i % 9 == 0 ? 1 : i % 3 == 0 ? 4 : i % 2 == 0 ? 2 : 3;
        r->trapKey = "1.3.6.1.4.1.9999." + std::to_string(kind);
        r->bindingCount = 1;
        r->bindings.push_back({"1.3.6.1.4.1.9999.1.1", units[i % 5], 4});
        r->dateTime = "December 11, 2026, 02:" + std::string(i / 17 < 10 ? "0" : "") +
                      std::to_string(i / 17 % 60) + ":" + std::string(i % 60 < 10 ? "0" : "") +
                      std::to_string(i % 60);
        const std::string name = r->serverName;
        store.ClassifyAlert(std::move(r));
        console.statusTab()->AdjustAlertCount(name, 300);
    }
    auto* tabs = console.findChild<QTabWidget*>();
    CAlertsPage& page = *console.alertsPage();
    console.show();
    tabs->setCurrentIndex(2);
    page.findChild<QCheckBox*>("groupRepeatsCheckBox")->setChecked(true);
    QTest::keyClicks(page.findChild<QLineEdit*>("textFilterEdit"), "fan");
    page.model().finishPass();
    page.header().setSortIndicator(AlertListModel::kCountCol, Qt::DescendingOrder);
    page.view().selectionModel()->select(page.model().index(1, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    page.view().selectionModel()->select(page.model().index(2, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    console.resize(1400, 720);
    if (!screenshots::save(console, *out, "alerts_page.png"))
        return 1;

    tabs->setCurrentIndex(1);
    console.showMaximized();
    console.setGeometry(console.screen()->availableGeometry());
    if (!screenshots::save(console, *out, "main_window_maximised.png"))
        return 1;
    return 0;
}

// Pictures of the agents status dialog and of the wait box, grabbed offscreen.
// The dialog queries a local snmpd run with the views of Debian's stock
// snmpd.conf, using the shipped agents.ini, so it shows what a fresh
// installation shows. Port 161 needs a network namespace of our own:
//   scripts/in-netns build/bench/screens_agents docs/screenshots

#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/alerts.h"
#include "vardel/polling/agents_dialog.h"
#include "vardel/resources/string_table.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    if (snmpInit() != 0) {
        std::fprintf(stderr, "SNMP could not be initialised\n");
        return 1;
    }
    testsupport::TempDir dir;
    testsupport::SnmpdPeer agent(dir.path(), "agentaddress udp:127.0.0.1:161\n"
                                             "view systemonly included .1.3.6.1.2.1.1\n"
                                             "view systemonly included .1.3.6.1.2.1.25.1\n"
                                             "rocommunity public default -V systemonly\n");
    if (!agent.ready("127.0.0.1", "public")) {
        std::fprintf(stderr, "snmpd does not answer on 127.0.0.1:161 (run in a network namespace)\n");
        return 1;
    }

    bool saved = true;
    {
        CWaitBox box(nullptr, LoadString(IDS_GETTING_AGENTS), "SRV1", LoadString(IDS_PLEASE_WAIT));
        saved = box.grab().save(out + "/wait_box.png") && saved;
        box.Close();
    }

    CAgentsDlg dialog(nullptr, "SRV1", "127.0.0.1", "IP", "public",
                      testsupport::sourcePath("vardel/resources/data/"));
    QTimer shot;
    QObject::connect(&shot, &QTimer::timeout, [&] {
        if (!dialog.isVisible())
            return;
        shot.stop();
        saved = dialog.grab().save(out + "/agents_dialog.png") && saved;
        dialog.accept();
    });
    shot.start(50);
    dialog.exec();
    if (!saved)
        std::fprintf(stderr, "could not write the pictures into %s\n", qPrintable(out));
    return saved ? 0 : 1;
}

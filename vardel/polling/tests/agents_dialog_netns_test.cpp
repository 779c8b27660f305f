// The agents status dialog against snmpd configured with the views of Debian's
// stock snmpd.conf, driven through its widgets.

#include "platform/msgbox/msgbox.h"
#include "snmp/snmp.h"
#include "tests/support/snmpd_peer.h"
#include "tests/support/testsupport.h"
#include "vardel/polling/agents_dialog.h"
#include "vardel/resources/string_table.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "agents_dialog_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

enum Ctl {
    kOk = 1,
    kServerName = 1023,
    kList = 1092,
    kFirstLine = 1071,
    kSecondLine = 1070,
    kThirdLine = 1072
};

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows rowsOf(QWidget* dialog) {
    Rows rows;
    auto* list = testsupport::control<QTreeWidget>(dialog, kList);
    for (int i = 0; list && i < list->topLevelItemCount(); ++i)
        rows.emplace_back(list->topLevelItem(i)->text(0).toStdString(),
                          list->topLevelItem(i)->text(1).toStdString());
    return rows;
}

QWidget* visibleWaitBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->property("ctlId").toInt() == 160)
            return w;
    return nullptr;
}

std::string text(QWidget* root, int id) {
    auto* label = testsupport::control<QLabel>(root, id);
    return label ? label->text().toStdString() : "<none>";
}

class AgentsDialogTest : public ::testing::Test {
protected:
    AgentsDialogTest() {
        app();
        EXPECT_EQ(snmpInit(), 0);
        // The views Debian's snmpd.conf grants "public" as installed.
        agent = std::make_unique<testsupport::SnmpdPeer>(dir.path(),
                                                         "agentaddress udp:127.0.0.1:161\n"
                                                         "view systemonly included .1.3.6.1.2.1.1\n"
                                                         "view systemonly included .1.3.6.1.2.1.25.1\n"
                                                         "rocommunity public default -V systemonly\n");
        EXPECT_TRUE(agent->ready("127.0.0.1", "public"));
    }

    // Runs the dialog modally and closes it with OK once it shows; its rows.
    Rows run(CAgentsDlg& dialog) {
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (!dialog.isVisible())
                return;
            closer.stop();
            shownAfterQuery = !visibleWaitBox();
            QTest::mouseClick(testsupport::control<QPushButton>(&dialog, kOk), Qt::LeftButton);
        });
        closer.start(10);
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        return rowsOf(&dialog);
    }

    testsupport::TempDir dir;
    std::unique_ptr<testsupport::SnmpdPeer> agent;
    msgbox::ScopedScript boxes;
    bool shownAfterQuery = false;
};

TEST_F(AgentsDialogTest, QueriesEachListedAgentInIndexOrder) {
    testsupport::writeFile(dir.file("agents.ini"), "[AgentsInfo]\nNumber=3\n"
                                                   "[Agent1]\nName=System\nOID=1.3.6.1.2.1.1.1.0\n"
                                                   "[Agent2]\nName=Interfaces\nOID=1.3.6.1.2.1.2.1.0\n"
                                                   "[Agent03]\nName=Padded\nOID=1.3.6.1.2.1.1.3.0\n"
                                                   "[Agent4]\nName=Beyond\nOID=1.3.6.1.2.1.1.3.0\n");
    CAgentsDlg dialog(nullptr, "SRV1", "127.0.0.1", "IP", "public", dir.path());
    const Rows rows = run(dialog);

    EXPECT_EQ(rows, (Rows{{"System", "OK"}, {"Interfaces", "Not Responding"}, {"", "Not Responding"}}));
    EXPECT_TRUE(shownAfterQuery);
    EXPECT_TRUE(boxes.script.shown.empty());
    EXPECT_EQ(text(&dialog, kServerName), "SRV1");
    auto* list = testsupport::control<QTreeWidget>(&dialog, kList);
    EXPECT_EQ(list->headerItem()->text(0).toStdString(), "Agent Name");
    EXPECT_EQ(list->headerItem()->text(1).toStdString(), "Status");
    EXPECT_EQ(list->columnWidth(0), 3 * list->width() / 5);
    EXPECT_EQ(list->columnWidth(1), 2 * list->width() / 5);
}

TEST_F(AgentsDialogTest, ShippedAgentsAllAnswerAStockAgent) {
    CAgentsDlg dialog(nullptr, "SRV1", "127.0.0.1", "IP", "public",
                      testsupport::sourcePath("vardel/resources/data/"));
    const Rows rows = run(dialog);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows)
        EXPECT_EQ(row.second, "OK") << row.first;
}

TEST_F(AgentsDialogTest, AnIpv6ServerIsQueriedOverUdp6) {
    testsupport::TempDir dir6;
    testsupport::SnmpdPeer agent6(dir6.path(), "agentaddress udp6:[::1]:161\n"
                                               "view systemonly included .1.3.6.1.2.1.1\n"
                                               "rocommunity6 public default -V systemonly\n");
    ASSERT_TRUE(agent6.ready("udp6:[::1]:161", "public"));
    testsupport::writeFile(dir.file("agents.ini"), "[AgentsInfo]\nNumber=2\n"
                                                   "[Agent1]\nName=System\nOID=1.3.6.1.2.1.1.1.0\n"
                                                   "[Agent2]\nName=Interfaces\nOID=1.3.6.1.2.1.2.1.0\n");
    CAgentsDlg dialog(nullptr, "SRV6", "::1", "IP", "public", dir.path());
    EXPECT_EQ(run(dialog), (Rows{{"System", "OK"}, {"Interfaces", "Not Responding"}}));
}

TEST_F(AgentsDialogTest, UnusableAgentsFileLeavesAnEmptyListBehindMessage169) {
    for (const std::string& content :
         {std::string(), std::string("[AgentsInfo]\nNumber=0\n[Agent1]\nName=A\n")}) {
        if (!content.empty())
            testsupport::writeFile(dir.file("agents.ini"), content);
        boxes.script.shown.clear();
        CAgentsDlg dialog(nullptr, "SRV1", "127.0.0.1", "IP", "public", dir.path());
        EXPECT_TRUE(run(dialog).empty());
        ASSERT_EQ(boxes.script.shown.size(), 1u);
        EXPECT_EQ(boxes.script.shown[0].text, "Error with the Agents.ini file.");
        EXPECT_EQ(boxes.script.shown[0].caption, LoadString(IDS_PRODUCT_TITLE));
        EXPECT_EQ(boxes.script.shown[0].icon, msgbox::Icon::None);
        EXPECT_TRUE(testsupport::control<QTreeWidget>(&dialog, kList)->isHeaderHidden());
    }
}

TEST_F(AgentsDialogTest, IpxServerIsAnAgentThatDoesNotAnswer) {
    testsupport::writeFile(dir.file("agents.ini"),
                           "[AgentsInfo]\nNumber=1\n[Agent1]\nName=System\nOID=1.3.6.1.2.1.1.1.0\n");
    CAgentsDlg dialog(nullptr, "NW1", "0000ABCD-00A0C9112233", "IPX", "public", dir.path());
    EXPECT_EQ(run(dialog), (Rows{{"System", "Not Responding"}}));
}

TEST_F(AgentsDialogTest, SilentServerWaitsUnderTheWaitBoxWhileTheConsoleRuns) {
    testsupport::SilentUdpPort silent("127.0.0.2", 161);
    ASSERT_TRUE(silent.bound());
    testsupport::writeFile(dir.file("agents.ini"),
                           "[AgentsInfo]\nNumber=1\n[Agent1]\nName=System\nOID=1.3.6.1.2.1.1.1.0\n");
    CAgentsDlg dialog(nullptr, "MUTE", "127.0.0.2", "IP", "public", dir.path());
    int ticks = 0;
    std::vector<std::string> lines;
    bool waitCursor = false, dialogHidden = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks != 1)
            return;
        QWidget* box = visibleWaitBox();
        if (box)
            lines = {text(box, kFirstLine), text(box, kSecondLine), text(box, kThirdLine)};
        const QCursor* cursor = QApplication::overrideCursor();
        waitCursor = cursor && cursor->shape() == Qt::WaitCursor;
        dialogHidden = !dialog.isVisible();
    });
    timer.start(200);
    EXPECT_EQ(run(dialog), (Rows{{"System", "Not Responding"}}));
    timer.stop();

    EXPECT_GT(ticks, 1);
    EXPECT_EQ(lines, (std::vector<std::string>{"Trying to get Agents status on:", "MUTE", "Please Wait..."}));
    EXPECT_TRUE(waitCursor);
    EXPECT_TRUE(dialogHidden);
    EXPECT_TRUE(shownAfterQuery);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(silent.received(), 4);
}

} // namespace

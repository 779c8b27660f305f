#include "platform/flexgrid/flexgrid.h"
#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "tests/support/fixed_host.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/trap_listener.h"
#include "vardel/editing/config_tab.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/polling/server_status_tab.h"
#include "vardel/resources/string_table.h"
#include "vardel/shell/single_instance.h"
#include "vardel/shell/vardel_tabs.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

const char* kEmptyKey =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n\r\n";

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixedhost::name = "CONSOLE1";
        writeFile(dir.file("vardel.reg"), kEmptyKey);
        writeFile(dir.file("VDTrap.ini"), "[Header]\nTotalNum=1\n[EnterpriseList]\n1.3.6.1.4.1.9999=S.INI\n");
    }

    std::unique_ptr<CVardelTabs> start(HostLibrary host = fixedhost::library()) {
        StartupOptions options;
        options.programDirectory = dir.path();
        options.host = host;
        options.startTrapListener = false;
        auto sheet = std::make_unique<CVardelTabs>(options);
        sheet->OnInitDialog();
        return sheet;
    }

    static std::unique_ptr<ManagedServer> server(const std::string& name) {
        auto s = std::make_unique<ManagedServer>();
        s->name = name;
        return s;
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& box : boxes.script.shown)
            out.push_back(box.text);
        return out;
    }

    TempDir dir;
    msgbox::ScopedScript boxes;
    SilentAnnouncer silent;
};

} // namespace

TEST_F(ConsoleTest, FirstConsoleSavesTheExampleFileOnOk) {
    auto sheet = start();
    EXPECT_EQ(sheet->windowTitle().toStdString(), "Orv Corvanta Vardel 5.5");
    EXPECT_EQ(sheet->currentTab(), 0); // empty list: Configuration
    EXPECT_EQ(sheet->settings().clientSection, "CLIENT1");

    auto b = server("SRVB");
    b->nosCode = kNosNT;
    b->ipAddress = "10.1.1.20";
    b->community = "public";
    b->alertDestination = 1;
    auto a = server("SRVA");
    a->nosCode = kNosNetWare;
    a->ipxAddress = "D5533216-000000000001";
    a->community = "public";
    sheet->servers().push_back(std::move(b));
    sheet->servers().push_back(std::move(a));

    QTest::mouseClick(testsupport::control<QPushButton>(sheet.get(), 1), Qt::LeftButton);
    EXPECT_TRUE(sheet->isEnded());
    EXPECT_TRUE(boxes.script.shown.empty()) << texts().front();
    EXPECT_EQ(readFile(dir.file("rlaweb.ini")),
              readFile(testsupport::sourcePath("vardel/shell/tests/data/rlaweb_two_servers.ini")));
    // The registry key got its six values.
    const std::string reg = readFile(dir.file("vardel.reg"));
    for (const char* value : {"\"Name\"=\"\"", "\"SoundFile\"=\"\"", "\"Port\"=\"80\"", "\"SSL\"=\"0\"",
                              "\"DHCP\"=\"0\"", "\"SOUND\"=\"0\""})
        EXPECT_NE(reg.find(value), std::string::npos) << value;
}

TEST_F(ConsoleTest, ConsolesRegisterInTurnAndOnlyNewLaterOnesAreTold) {
    start()->OnOK();
    EXPECT_TRUE(boxes.script.shown.empty());

    fixedhost::name = "CONSOLE2";
    auto second = start();
    EXPECT_EQ(second->settings().clientSection, "CLIENT2");
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_NEW_CONSOLE));
    EXPECT_EQ(boxes.script.shown[0].caption, "vardel");
    EXPECT_EQ(profile::getString(dir.file("rlaweb.ini"), "CLIENTS", "NumClients", "", 20), "2");

    boxes.script.shown.clear();
    fixedhost::name = "CONSOLE1";
    auto returning = start();
    EXPECT_EQ(returning->settings().clientSection, "CLIENT1");
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST_F(ConsoleTest, ConfigurationTabEditsTheConsolesListAndHoldsTheSheetButtons) {
    writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\nNumServers=2\n[SERVERS]\nbeta=1\nAlpha=1\n"
                                      "[beta]\nIP=10.0.0.2\n[Alpha]\nIP=10.0.0.1\n");
    auto sheet = start();
    auto* grid = testsupport::control<CMSFlexGrid>(sheet.get(), 1011);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->GetTextMatrix(1, 0), "Alpha");
    EXPECT_EQ(grid->GetTextMatrix(2, 0), "beta");

    grid->SetRow(1);
    QTest::mouseClick(testsupport::control<QPushButton>(sheet.get(), 1006), Qt::LeftButton);
    ASSERT_EQ(sheet->servers().size(), 1u);
    EXPECT_EQ(sheet->servers().front()->name, "beta");

    sheet->configTab()->EnableControls(false);
    EXPECT_FALSE(testsupport::control<QPushButton>(sheet.get(), 1)->isEnabled());
    EXPECT_FALSE(testsupport::control<QPushButton>(sheet.get(), 2)->isEnabled());
}

TEST_F(ConsoleTest, ServerListOpensOnTheStatusTabAndPollTimeArmsTheCycle) {
    writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\nNumServers=1\n[SERVERS]\nS1=1\n[S1]\nIP=10.0.0.1\n"
                                      "[VDINFO]\nPOLLTIME=5\n");
    auto sheet = start();
    EXPECT_EQ(sheet->currentTab(), 1);
    EXPECT_TRUE(sheet->firstPollTimer().isActive());
    EXPECT_TRUE(sheet->firstPollTimer().isSingleShot());
    EXPECT_EQ(sheet->firstPollTimer().interval(), 2000);
    EXPECT_TRUE(sheet->pollTimer().isActive());
    EXPECT_EQ(sheet->pollTimer().interval(), 5 * 60000);
    EXPECT_FALSE(sheet->settings().lastPollTime.empty());
}

TEST_F(ConsoleTest, ReadOnlyOkSavesNothing) {
    writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\nNumServers=1\n[SERVERS]\nS1=1\n[S1]\nIP=10.0.0.1\n");
    auto sheet = start();
    const std::string ini = readFile(dir.file("rlaweb.ini"));
    const std::string reg = readFile(dir.file("vardel.reg"));
    sheet->settings().readOnly = 1;
    sheet->settings().managementServerName = "changed";
    sheet->servers().clear();
    sheet->OnOK();
    EXPECT_TRUE(sheet->isEnded());
    EXPECT_EQ(readFile(dir.file("rlaweb.ini")), ini);
    EXPECT_EQ(readFile(dir.file("vardel.reg")), reg);
}

TEST_F(ConsoleTest, CancelAsksAndNoKeepsEverythingRunning) {
    auto sheet = start();
    sheet->settings().managementServerName = "changed";
    const std::string ini = readFile(dir.file("rlaweb.ini"));
    boxes.script.answers = {msgbox::IDNO};
    QTest::mouseClick(testsupport::control<QPushButton>(sheet.get(), 2), Qt::LeftButton);
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_CANCEL_QUESTION));
    EXPECT_EQ(boxes.script.shown[0].buttons, msgbox::Buttons::YesNo);
    EXPECT_FALSE(sheet->isEnded());
    EXPECT_TRUE(sheet->pollTimer().isActive());

    // Close while the Configuration tab is busy is ignored without a question.
    sheet->setConfigurationBusy(true);
    sheet->close();
    EXPECT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_FALSE(sheet->isEnded());

    sheet->setConfigurationBusy(false);
    boxes.script.answers = {msgbox::IDYES};
    sheet->close();
    EXPECT_TRUE(sheet->isEnded());
    EXPECT_EQ(readFile(dir.file("rlaweb.ini")), ini);
    EXPECT_EQ(readFile(dir.file("vardel.reg")).find("changed"), std::string::npos);
}

TEST_F(ConsoleTest, HostLibraryFailureLeavesNoIdentity) {
    auto sheet = start({fixedhost::failingInit, fixedhost::hostName, fixedhost::ipAddress, fixedhost::noIpx});
    ASSERT_FALSE(boxes.script.shown.empty());
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_WINSOCK_INIT));
    EXPECT_EQ(boxes.script.shown[0].caption, LoadString(IDS_PRODUCT_TITLE));
    EXPECT_TRUE(sheet->settings().hostName.empty());
    EXPECT_EQ(profile::getString(dir.file("rlaweb.ini"), "CLIENTS", "Hostname", "none", 64), "none");
}

TEST_F(ConsoleTest, MissingTrapDefinitionsAreReported) {
    writeFile(dir.file("VDTrap.ini"), "[EnterpriseList]\n1.3.6.1.4.1.9999=S.INI\n");
    start();
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, "Enterprise list Error.");
    EXPECT_EQ(boxes.script.shown[0].caption, "OnInitDialog");
}

TEST(SingleInstance, ASecondConsoleOfTheUserIsRefused) {
    TempDir dir;
    SingleInstance first("Orv Corvanta Vardel 5.5", dir.path());
    ASSERT_TRUE(first.acquire());
    SingleInstance second("Orv Corvanta Vardel 5.5", dir.path());
    EXPECT_FALSE(second.acquire());
}

TEST_F(ConsoleTest, RestoringBringsTheNotifyWindowBackOnlyWithOutstandingAlerts) {
    auto sheet = start();
    sheet->show();
    sheet->setWindowState(Qt::WindowMinimized);
    sheet->setWindowState(Qt::WindowNoState);
    EXPECT_FALSE(sheet->notifyWindow()->isVisible());

    sheet->alertStore().setAnnouncer(&silent);
    sheet->alertStore().RaiseStateAlert("S1", "DOWN", 2000);
    sheet->setWindowState(Qt::WindowMinimized);
    sheet->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(sheet->notifyWindow()->isVisible());
    EXPECT_TRUE(sheet->notifyWindow()->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(ConsoleTest, AnUnwritableConsoleFileIsReportedForEachIdentityWrite) {
    std::filesystem::create_directory(dir.file("rlaweb.ini"));
    auto sheet = start();
    EXPECT_EQ(sheet->settings().hostName, "CONSOLE1");
    EXPECT_EQ(sheet->settings().hostIpAddress, "10.1.1.5");
    ASSERT_GE(boxes.script.shown.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(boxes.script.shown[i].text, LoadString(IDS_INI_WRITE));
        EXPECT_EQ(boxes.script.shown[i].caption, "OnInitDialog");
    }
}

TEST_F(ConsoleTest, OkAsksBeforeItSavesAListWithoutServersNobodyRemoved) {
    const std::string ini = dir.file("rlaweb.ini");
    writeFile(ini,
              "[ServerInfo]\nNumServers=2\n[SERVERS]\nS1=1\nS2=1\n[S1]\nIP=10.0.0.1\n[S2]\nIP=10.0.0.2\n");
    auto sheet = start();
    // Another user of the program directory saves S3 behind this console's back.
    writeFile(ini, readFile(ini) + "[S3]\nIP=10.0.0.3\n");
    profile::writeString(ini, "SERVERS", "S3", "1");
    sheet->servers().remove_if([](const auto& s) { return s->name == "S1"; }); // removed by the user

    boxes.script.answers = {msgbox::IDNO};
    sheet->OnOK();
    ASSERT_EQ(texts(),
              std::vector<std::string>{ini + " holds servers that are not in this console's list and "
                                             "were not removed here: S3.\nSave the server list without "
                                             "them?"});
    EXPECT_FALSE(sheet->isEnded());
    EXPECT_EQ(profile::sectionKeys(ini, "SERVERS", 1000), (std::vector<std::string>{"S1", "S2", "S3"}));

    boxes.script.answers = {msgbox::IDYES};
    sheet->OnOK();
    EXPECT_TRUE(sheet->isEnded());
    EXPECT_EQ(profile::sectionKeys(ini, "SERVERS", 1000), std::vector<std::string>{"S2"});
}

namespace {

// Answers the new-console box of the start-up only after an INFORM to the
// console's trap port was answered, the event loop turning meanwhile.
class InformDuringTheBox : public msgbox::Backend {
public:
    InformDuringTheBox(CVardelTabs& sheet, std::string dir) : m_sheet(sheet), m_dir(std::move(dir)) {}
    msgbox::Answer ask(const msgbox::Box& box) override {
        if (box.text != LoadString(IDS_NEW_CONSOLE) || !m_sheet.trapListener() ||
            m_sheet.trapListener()->waitForRegistration() != 0)
            return msgbox::IDOK;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SNMP_PERSISTENT_DIR", QString::fromStdString(m_dir));
        env.insert("SNMPCONFPATH", QString::fromStdString(m_dir));
        p.setProcessEnvironment(env);
        const int port = m_sheet.trapListener()->session()->localPort();
        p.start("snmpinform",
                {"-v", "2c", "-c", "public", "-t", "2", "-r", "1", "127.0.0.1:" + QString::number(port), "",
                 "1.3.6.1.4.1.9999.0.1004", "1.3.6.1.4.1.9999.1.1", "s", "VOL1"});
        if (!QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 20000))
            p.kill();
        p.waitForFinished(1000);
        answered = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        return msgbox::IDOK;
    }
    bool answered = false;

private:
    CVardelTabs& m_sheet;
    std::string m_dir;
};

} // namespace

TEST_F(ConsoleTest, ATrapDuringAStartUpBoxMeetsTheWholeServerList) {
    std::filesystem::remove(dir.file("VDTrap.ini"));
    std::filesystem::remove(dir.file("vardel.reg"));
    testsupport::copyProgramData(dir.path());
    // Another console registered first: this one is told so, before its list loads.
    writeFile(dir.file("rlaweb.ini"),
              "[CLIENTS]\nNumClients=1\nOTHER=CLIENT1\n[ServerInfo]\nNumServers=1\n"
              "[SERVERS]\nSRV=1\n[SRV]\nNOS=NT\nIP=127.0.0.1\nSNMP_COMMUNITY=public\n");
    StartupOptions options;
    options.programDirectory = dir.path();
    options.host = fixedhost::library();
    options.trapPort = 0;
    CVardelTabs sheet(options);
    InformDuringTheBox backend(sheet, dir.path());
    msgbox::setBackend(&backend);
    sheet.OnInitDialog();
    msgbox::setBackend(&boxes.script);
    ASSERT_TRUE(backend.answered);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.alertStore().count >= 1; }, 10000));
    EXPECT_EQ(sheet.servers().front()->outstandingAlerts, 1);
}

TEST_F(ConsoleTest, ANegativeEnterpriseCountIsToldAsSuch) {
    writeFile(dir.file("VDTrap.ini"), "[Header]\nTotalNum=-1\n[EnterpriseList]\n1.3.6.1.4.1.9999=S.INI\n");
    start();
    EXPECT_EQ(texts(), std::vector<std::string>{"Enterprise list Error.\nThe count of enterprises ([Header] "
                                                "TotalNum) in " +
                                                dir.file("VDTrap.ini") +
                                                " reads \"-1\", which is no number of enterprises."});
}

TEST_F(ConsoleTest, StartUpRemovesSavesLeftOverForAnHour) {
    const std::string stale = dir.file(".rlaweb.ini.0123456789ab"),
                      staleKey = dir.file(".vardel.reg.fedcba987654");
    const std::string recent = dir.file(".rlaweb.ini.a1b2c3d4e5f6"), other = dir.file(".rlaweb.ini.notes");
    for (const std::string& file : {stale, staleKey, recent, other}) {
        writeFile(file, "[CLIENTS]\n");
        if (file != recent)
            std::filesystem::last_write_time(file, std::filesystem::file_time_type::clock::now() -
                                                       std::chrono::minutes(61));
    }
    start();
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_FALSE(std::filesystem::exists(staleKey));
    EXPECT_TRUE(std::filesystem::exists(recent));
    EXPECT_TRUE(std::filesystem::exists(other));
}

TEST_F(ConsoleTest, AQuestionOfTheMainWindowLeavesTheNotifyWindowWorkingAndStaysAboveIt) {
    auto sheet = start();
    sheet->show();
    sheet->alertStore().setAnnouncer(&silent);
    sheet->alertStore().RaiseStateAlert("S1", "DOWN", 2000);
    sheet->alertStore().RaiseStateAlert("S2", "DOWN", 2000);
    CNotifyWindow* notify = sheet->notifyWindow();
    notify->ShowAlert(2);
    ASSERT_TRUE(notify->isTopmost());

    // The real boxes: the Cancel question, answered No once the notify window
    // has been clicked while it was open.
    msgbox::setBackend(nullptr);
    bool questionSeen = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        questionSeen = true;
        EXPECT_TRUE(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        auto* prev = testsupport::control<QPushButton>(notify, 1034);
        QTest::mouseClick(notify->windowHandle(), Qt::LeftButton, {},
                          prev->mapTo(notify, prev->rect().center()));
        EXPECT_EQ(notify->currentIndex(), 1);
        box->button(QMessageBox::No)->click();
    });
    sheet->OnCancel();
    msgbox::setBackend(&boxes.script);
    EXPECT_TRUE(questionSeen);
    EXPECT_FALSE(sheet->isEnded());
    EXPECT_EQ(notify->currentIndex(), 1);
}

TEST_F(ConsoleTest, TheMainWindowKeepsItsSizeAndF1OpensItsHelp) {
    writeFile(dir.file("Vardel.html"), "<html></html>\n");
    std::vector<std::string> opened;
    help::setLauncher([&](const std::string& uri) {
        opened.push_back(uri);
        return true;
    });
    auto sheet = start();
    sheet->show();
    const QSize size = sheet->size();
    EXPECT_GE(size.width(), 868);
    EXPECT_GE(size.height(), 526);
    EXPECT_FALSE(sheet->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    sheet->resize(200, 100);
    sheet->showMaximized();
    EXPECT_EQ(sheet->size(), size);

    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    QTest::keyClick(sheet.get(), Qt::Key_F1);
    help::setLauncher({});
    EXPECT_EQ(opened, std::vector<std::string>{"file://" + dir.path() + "Vardel.html"});
}

TEST_F(ConsoleTest, OkWhileTheNotifyWindowAsksEndsSafely) {
    auto sheet = start();
    sheet->show();
    sheet->alertStore().setAnnouncer(&silent);
    sheet->alertStore().RaiseStateAlert("S1", "DOWN", 2000);
    CNotifyWindow* notify = sheet->notifyWindow();
    notify->ShowAlert(1);

    msgbox::setBackend(nullptr);
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        sheet->OnOK();
        QCoreApplication::processEvents();
        box->button(QMessageBox::No)->click();
    });
    QTest::mouseClick(testsupport::control<QPushButton>(notify, 1036), Qt::LeftButton);
    msgbox::setBackend(&boxes.script);
    EXPECT_TRUE(sheet->isEnded());
    EXPECT_FALSE(notify->isVisible());
    EXPECT_EQ(sheet->alertStore().count, 1);
}

// Enter in either grid stays in the grid: it never presses OK, nor Cancel
// when Cancel had the focus before the grid was clicked.
TEST_F(ConsoleTest, EnterInAGridNeverReachesTheSheetButtons) {
    writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\nNumServers=1\n[SERVERS]\nS1=1\n[S1]\nIP=10.0.0.1\n");
    auto sheet = start();
    sheet->show();
    sheet->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet.get()));
    boxes.script.answers = {msgbox::IDNO, msgbox::IDYES};
    QTest::mouseClick(testsupport::control<QPushButton>(sheet.get(), 2), Qt::LeftButton);
    ASSERT_EQ(texts(), std::vector<std::string>{LoadString(IDS_CANCEL_QUESTION)});
    for (int tab : {1, 0}) {
        sheet->findChild<QTabWidget*>()->setCurrentIndex(tab);
        CMSFlexGrid* grid = testsupport::control<CMSFlexGrid>(sheet.get(), tab == 1 ? 1010 : 1011);
        ASSERT_NE(grid, nullptr);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(grid->model()->index(1, 0)).center());
        EXPECT_EQ(QApplication::focusWidget(), grid);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
            QTest::keyClick(QApplication::focusWidget(), key);
    }
    EXPECT_EQ(texts().size(), 1u);
    EXPECT_FALSE(sheet->isEnded());
}

// Flapping switched on: the fifth change of a server's state within 15
// minutes raises one flapping alert, which pops up; that change's alert and
// the next ones are stored and logged but stay quiet; the grid says so.
TEST_F(ConsoleTest, AFlappingServerRaisesOneAlertThenStaysQuiet) {
    writeFile(dir.file("vardel.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\"
                                      "ManagementServer]\r\n\"Flapping\"=\"1\"\r\n\r\n");
    writeFile(dir.file("rlaweb.ini"), "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nS1=1\r\n"
                                      "[S1]\r\nNOS=NT\r\nIP=127.0.0.9\r\nSNMP_COMMUNITY=public\r\n");
    auto sheet = start();
    sheet->alertStore().setAnnouncer(&silent);
    PollCycle& poll = *sheet->pollCycle();
    for (int change = 1; change <= 4; ++change) {
        if (change % 2)
            poll.OnHostUnreachable("127.0.0.9");
        else
            poll.OnHostReachable("127.0.0.9");
        EXPECT_EQ(sheet->notifyWindow()->currentIndex(), change);
    }
    EXPECT_EQ(sheet->statusTab()->grid().GetCols(), 4);
    sheet->notifyWindow()->hide();
    poll.OnHostUnreachable("127.0.0.9");
    AlertStore& store = sheet->alertStore();
    ASSERT_EQ(store.count, 6);
    const AlertRecord& flapping = *store.alerts.front();
    EXPECT_EQ(flapping.trapKey, "flapping");
    EXPECT_EQ(flapping.severity, kSeverityWarning);
    EXPECT_EQ(flapping.alertText.rfind("Flapping: 5 status changes in 15 minutes.", 0), 0u)
        << flapping.alertText;
    EXPECT_EQ(store.findBySequence(5)->notice, kNoticeNone);
    EXPECT_TRUE(sheet->notifyWindow()->isVisible());
    EXPECT_EQ(sheet->notifyWindow()->currentIndex(), 6);
    EXPECT_EQ(sheet->statusTab()->grid().GetTextMatrix(1, 4), "Flapping");

    poll.OnHostReachable("127.0.0.9");
    EXPECT_EQ(store.count, 7);
    EXPECT_EQ(store.alerts.front()->notice, kNoticeNone);
    EXPECT_EQ(sheet->notifyWindow()->currentIndex(), 6);
    EXPECT_EQ(sheet->servers().front()->outstandingAlerts, 7);
    const std::string log = readFile(dir.file("VDLog.txt"));
    EXPECT_EQ(QString::fromStdString(log).count("\nSeverity:"), 7);
}

namespace {

const char* kThreeServers = "[ServerInfo]\nNumServers=3\n[SERVERS]\nb1=1\nA2=1\nc3=1\n"
                            "[b1]\nIP=10.0.0.1\n[A2]\nIP=10.0.0.2\n[c3]\nIP=10.0.0.3\n"
                            "[CLIENTS]\nNumClients=1\nCONSOLE1=CLIENT1\n[CLIENT1]\nb1=1\nA2=1\nc3=-1\n";

// The data rows as shown, top down.
std::vector<std::string> shownNames(CMSFlexGrid& grid) {
    std::vector<std::string> names;
    for (int row = 1; row < grid.model()->rowCount(); ++row)
        names.push_back(grid.model()->index(row, 0).data().toString().toStdString());
    return names;
}

void clickHeader(CMSFlexGrid& grid, int col) {
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                      grid.visualRect(grid.model()->index(0, col)).center());
}

} // namespace

TEST_F(ConsoleTest, AResizableWindowsGridsGrowWithItAndItsSizePlaceAndWidthsAreKept) {
    writeFile(dir.file("rlaweb.ini"), kThreeServers);
    const std::string statePath = dir.file("window.ini");
    const auto open = [&] {
        StartupOptions options;
        options.programDirectory = dir.path();
        options.host = fixedhost::library();
        options.startTrapListener = false;
        options.windowStatePath = statePath;
        auto sheet = std::make_unique<CVardelTabs>(options);
        sheet->OnInitDialog();
        sheet->show();
        return sheet;
    };
    auto sheet = open();
    EXPECT_TRUE(sheet->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const QSize first = sheet->size();
    EXPECT_GE(first.width(), 868);
    CMSFlexGrid& config = sheet->configTab()->grid();
    CMSFlexGrid& status = sheet->statusTab()->grid();
    sheet->findChild<QTabWidget*>()->setCurrentIndex(0);
    const QSize configGrid = config.size();
    sheet->resize(first + QSize(300, 200));
    QApplication::processEvents();
    EXPECT_EQ(config.size(), configGrid + QSize(300, 200));
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    QApplication::processEvents();
    EXPECT_GT(status.width(), configGrid.width());
    // The headers fit; a user's width is kept.
    EXPECT_GE(config.columnWidth(5), config.fontMetrics().horizontalAdvance("Alert Destination"));
    config.SetColWidth(5, 3000);
    sheet->move(40, 30);
    const QRect place = sheet->geometry();
    boxes.script.answers = {msgbox::IDYES};
    sheet->OnCancel();
    ASSERT_TRUE(sheet->isEnded());
    sheet.reset();

    sheet = open();
    EXPECT_EQ(sheet->geometry().size(), place.size());
    EXPECT_EQ(sheet->configTab()->grid().GetColWidth(5), 3000);
}

TEST_F(ConsoleTest, AHeaderClickSortsTheGridsAsShownAndTheFilterFinds) {
    writeFile(dir.file("rlaweb.ini"), kThreeServers);
    auto sheet = start();
    sheet->show();
    sheet->findChild<QTabWidget*>()->setCurrentIndex(0);
    CMSFlexGrid& config = sheet->configTab()->grid();
    EXPECT_EQ(shownNames(config), (std::vector<std::string>{"A2", "b1", "c3"}));
    clickHeader(config, 0);
    clickHeader(config, 0); // again: reversed
    EXPECT_EQ(shownNames(config), (std::vector<std::string>{"c3", "b1", "A2"}));
    EXPECT_EQ(config.GetTextMatrix(1, 0), "A2"); // the grid's own order stays
    clickHeader(config, 5);                      // "NOT SET" sorts before "SET"
    EXPECT_EQ(shownNames(config).front(), "c3");

    // Filtered, a click selects the row shown; Remove takes that server only.
    QTest::keyClicks(testsupport::control<QLineEdit>(sheet.get(), 1361), "B1");
    ASSERT_EQ(shownNames(config), std::vector<std::string>{"b1"});
    QTest::mouseClick(config.viewport(), Qt::LeftButton, {},
                      config.visualRect(config.model()->index(1, 0)).center());
    QTest::mouseClick(testsupport::control<QPushButton>(sheet.get(), 1006), Qt::LeftButton);
    ASSERT_EQ(sheet->servers().size(), 2u);
    EXPECT_EQ(FindServerByName(sheet->servers(), "b1"), nullptr);

    // Problems only: NOT SET, then a server with an outstanding alert.
    sheet->findChild<QTabWidget*>()->setCurrentIndex(1);
    CMSFlexGrid& status = sheet->statusTab()->grid();
    testsupport::control<QCheckBox>(sheet.get(), 1363)->setChecked(true);
    EXPECT_EQ(shownNames(status), std::vector<std::string>{"c3"});
    sheet->statusTab()->AdjustAlertCount("A2", 300);
    EXPECT_EQ(shownNames(status), (std::vector<std::string>{"A2", "c3"}));
    clickHeader(status, 1);
    clickHeader(status, 1);
    EXPECT_EQ(shownNames(status), (std::vector<std::string>{"A2", "c3"}));
    EXPECT_EQ(status.rowAt(0), 0);

    // The row's detail: last answer, next poll, last failure.
    FindServerByName(sheet->servers(), "c3")->lastFailure = "The host did not answer.";
    const std::string detail = sheet->statusTab()->rowDetail(status.gridRow(2));
    EXPECT_NE(detail.find("Last answer: none yet\nNext poll: "), std::string::npos) << detail;
    EXPECT_NE(detail.find("The host did not answer."), std::string::npos) << detail;
}

TEST_F(ConsoleTest, ASecondStartBringsTheRunningConsoleForward) {
    TempDir locks;
    auto sheet = start();
    sheet->show();
    sheet->showMinimized();
    SingleInstance first("Orv Corvanta Vardel 5.5", locks.path());
    ASSERT_TRUE(first.acquire());
    std::string token;
    ASSERT_TRUE(first.listenForRaise([&](const std::string& t) {
        token = t;
        sheet->ShowConsoleFor(t);
    }));
    SingleInstance second("Orv Corvanta Vardel 5.5", locks.path());
    ASSERT_FALSE(second.acquire());
    ASSERT_TRUE(second.askToRaise("startup-token-1"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet->isMinimized(); }, 10000));
    EXPECT_EQ(token, "startup-token-1");
}

// The console's exchange with the management server of deploy/ on a real
// lighttpd: start-up fetch, credentials, read-only start, write-back on OK,
// two consoles writing back, the unattended prompt.
#include "fixed_host.h"
#include "management_server.h"
#include "msgbox.h"
#include "string_table.h"
#include "testsupport.h"
#include "vardel_tabs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using testsupport::control;
using testsupport::ManagementServer;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

constexpr int kPrompt = 165;
constexpr int kCredentials = 163;
constexpr int kWaitBox = 160;

const std::string kServerList =
    "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nFS1=1\r\n[FS1]\r\nNOS=NT\r\nIP=10.0.0.1\r\nIPX=\r\n"
    "SNMP_COMMUNITY=public\r\n";
const std::string kLocalList =
    "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nLOCAL=1\r\n[LOCAL]\r\nNOS=NT\r\nIP=10.0.0.9\r\nIPX=\r\n"
    "SNMP_COMMUNITY=public\r\n";

// Acts on the console's dialogs as they open, in the order given, and notes
// the lines of every wait box seen meanwhile.
class DialogDriver {
public:
    DialogDriver() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(5);
    }
    void then(int id, std::function<void(QWidget*)> act) { m_steps.push_back({id, std::move(act)}); }
    bool done() const { return m_steps.empty(); }
    std::set<std::string> waitBoxLines;

private:
    void poll() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!window->isVisible())
                continue;
            const int id = window->property("ctlId").toInt();
            if (id == kWaitBox)
                waitBoxLines.insert(control<QLabel>(window, 1071)->text().toStdString() +
                                    control<QLabel>(window, 1070)->text().toStdString());
            if (!m_steps.empty() && m_steps.front().id == id) {
                auto act = std::move(m_steps.front().act);
                m_steps.pop_front();
                act(window);
                return;
            }
        }
    }
    struct Step {
        int id;
        std::function<void(QWidget*)> act;
    };
    std::deque<Step> m_steps;
    QTimer m_timer;
};

void click(QWidget* dialog, int id) {
    QTest::mouseClick(control<QAbstractButton>(dialog, id), Qt::LeftButton);
}

void retrieve(QWidget* prompt) {
    click(prompt, 1065);
    click(prompt, 1);
}

std::function<void(QWidget*)> credentials(const std::string& user, const std::string& password) {
    return [user, password](QWidget* dialog) {
        control<QLineEdit>(dialog, 1062)->setText(QString::fromStdString(user));
        control<QLineEdit>(dialog, 1063)->setText(QString::fromStdString(password));
        click(dialog, 1);
    };
}

// One console in its own program directory, its management server 127.0.0.1.
struct Console {
    Console() {
        writeFile(dir.file("vardel.reg"),
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n"
                  "\"Name\"=\"127.0.0.1\"\r\n\"Port\"=\"" +
                      std::to_string(testsupport::kHttpPort) + "\"\r\n\r\n");
        writeFile(dir.file("rlaweb.ini"), kLocalList);
        writeFile(dir.file("VDTrap.ini"), "[Header]\nTotalNum=1\n[EnterpriseList]\n1.3.6.1.4.1.9999=S.INI\n");
    }
    void start() {
        StartupOptions options;
        options.programDirectory = dir.path();
        options.host = fixedhost::library();
        options.startTrapListener = false;
        options.promptTickMs = 2;
        sheet = std::make_unique<CVardelTabs>(options);
        ASSERT_TRUE(sheet->OnInitDialog());
    }
    std::vector<std::string> serverNames() const {
        std::vector<std::string> names;
        for (const auto& server : sheet->servers())
            names.push_back(server->name);
        return names;
    }
    void addServer(const std::string& name) {
        auto server = std::make_unique<ManagedServer>();
        server->name = name;
        server->nosCode = kNosNT;
        server->ipAddress = "10.0.0.2";
        server->community = "public";
        sheet->servers().push_back(std::move(server));
    }
    std::string ini() const { return readFile(dir.file("rlaweb.ini")); }

    TempDir dir;
    std::unique_ptr<CVardelTabs> sheet;
};

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("no_proxy", "*", 1); }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& box : boxes.script.shown)
            out.push_back(box.text);
        return out;
    }
    msgbox::ScopedScript boxes;
    SilentAnnouncer silent;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(ExchangeTest, StartupAsksForCredentialsUntilRightThenFetchesTheList) {
    ManagementServer server;
    server.putList(kServerList);
    Console console;
    DialogDriver driver;
    driver.then(kPrompt, retrieve);
    driver.then(kCredentials, credentials("anna", "wrong"));
    driver.then(kCredentials, [](QWidget* dialog) {
        // The same dialog: what was typed before is still there.
        EXPECT_EQ(control<QLineEdit>(dialog, 1062)->text(), "anna");
        credentials("nobody", "secret")(dialog);
    });
    driver.then(kCredentials, credentials("anna", "secret"));
    console.start();

    EXPECT_TRUE(driver.done());
    EXPECT_TRUE(texts().empty());
    EXPECT_EQ(console.serverNames(), std::vector<std::string>{"FS1"});
    EXPECT_EQ(console.sheet->settings().readOnly, 0);
    EXPECT_EQ(console.sheet->settings().startupServerName, "127.0.0.1");
    EXPECT_EQ(console.sheet->settings().userName, "anna");
    // The wait box showed while the calls ran.
    EXPECT_TRUE(driver.waitBoxLines.count(LoadString(IDS_CONTACTING_MS) + "127.0.0.1"));

    // Cancel with full access sends the end notice.
    boxes.script.answers = {msgbox::IDYES};
    console.sheet->OnCancel();
    ASSERT_TRUE(console.sheet->isEnded());
    server.stop();
    const std::string log = server.accessLog();
    const auto start = log.find("event=start");
    const auto fetch = log.find("GET /vardel/rlaweb.ini");
    ASSERT_NE(start, std::string::npos) << log;
    EXPECT_LT(start, fetch) << log;
    EXPECT_NE(log.find("event=end", fetch), std::string::npos) << log;
}

TEST_F(ExchangeTest, ReadOnlyStartSavesNothingAndSendsNothing) {
    ManagementServer server;
    server.putList(kServerList);
    Console console;
    DialogDriver driver;
    driver.then(kPrompt, retrieve);
    driver.then(kCredentials, credentials("bo", "reader"));
    console.start();
    ASSERT_EQ(console.sheet->settings().readOnly, 1);
    const std::string ini = console.ini();
    const std::string reg = readFile(console.dir.file("vardel.reg"));

    console.addServer("NEW");
    console.sheet->OnOK();
    EXPECT_TRUE(console.sheet->isEnded());
    EXPECT_TRUE(texts().empty());
    EXPECT_EQ(console.ini(), ini);
    EXPECT_EQ(readFile(console.dir.file("vardel.reg")), reg);
    server.stop();
    const std::string log = server.accessLog();
    EXPECT_FALSE(contains(log, "event=start")) << log;
    EXPECT_FALSE(contains(log, "event=end")) << log;
    EXPECT_FALSE(contains(log, "PUT")) << log;
}

TEST_F(ExchangeTest, TwoConsolesWriteBackTheSecondIsToldAndKeepsItsList) {
    ManagementServer server;
    server.putList(kServerList);
    Console first, second;
    for (Console* console : {&first, &second}) {
        DialogDriver driver;
        driver.then(kPrompt, retrieve);
        driver.then(kCredentials, credentials("anna", "secret"));
        console->start();
        ASSERT_TRUE(driver.done());
    }

    first.addServer("ADDED1");
    boxes.script.answers = {msgbox::IDYES};
    first.sheet->OnOK();
    ASSERT_TRUE(first.sheet->isEnded());
    ASSERT_EQ(texts(), std::vector<std::string>{LoadString(IDS_WRITE_BACK_QUESTION) + " 127.0.0.1 ?"});
    EXPECT_TRUE(contains(server.list(), "ADDED1=1"));

    second.addServer("ADDED2");
    boxes.script.answers = {msgbox::IDYES};
    second.sheet->OnOK();
    EXPECT_TRUE(second.sheet->isEnded());
    ASSERT_EQ(texts().size(), 3u);
    const std::string rejected = second.dir.file("rlaweb.ini.rejected");
    EXPECT_EQ(texts()[2], LoadString(IDS_WRITE_BACK_FAILED) + " 127.0.0.1\n" +
                              LoadString(IDS_LIST_CHANGED_MEANWHILE) + " " + rejected + ".");
    EXPECT_EQ(boxes.script.shown[2].caption, "vardel");
    // Nothing lost: the first list on the server, the second kept at home.
    EXPECT_TRUE(contains(server.list(), "ADDED1=1"));
    EXPECT_FALSE(contains(server.list(), "ADDED2"));
    EXPECT_TRUE(contains(readFile(rejected), "ADDED2=1"));
    EXPECT_TRUE(contains(second.ini(), "ADDED2=1"));
    server.stop();
    EXPECT_TRUE(contains(server.accessLog(), "event=end"));
}

TEST_F(ExchangeTest, UnreachableServerIsReportedUnlessThePromptTimedOut) {
    // No server listens.
    Console clicked;
    {
        DialogDriver driver;
        driver.then(kPrompt, retrieve);
        clicked.start();
    }
    ASSERT_EQ(texts(), std::vector<std::string>{LoadString(IDS_MS_LIST_FAILED) + " 127.0.0.1. " +
                                                LoadString(IDS_USE_LOCAL)});
    EXPECT_EQ(clicked.serverNames(), std::vector<std::string>{"LOCAL"});

    // Retrieve chosen, then left alone: the prompt closes itself, and the
    // failure shows nothing.
    Console unattended;
    DialogDriver driver;
    driver.then(kPrompt, [](QWidget* prompt) { click(prompt, 1065); });
    unattended.start();
    EXPECT_EQ(texts().size(), 1u);
    EXPECT_EQ(unattended.serverNames(), std::vector<std::string>{"LOCAL"});
    EXPECT_EQ(unattended.sheet->settings().startupServerName, "127.0.0.1");
}

TEST_F(ExchangeTest, WriteBackToAnotherServerAsksForItsCredentials) {
    ManagementServer server;
    server.putList(kServerList);
    Console console;
    DialogDriver driver;
    driver.then(kPrompt, retrieve);
    driver.then(kCredentials, credentials("anna", "secret"));
    console.start();
    ASSERT_TRUE(driver.done());

    // The same server under another name: the credentials of the first are not sent.
    console.sheet->settings().managementServerName = "localhost";
    console.addServer("ADDED");
    driver.then(kCredentials, credentials("anna", "secret"));
    boxes.script.answers = {msgbox::IDYES};
    console.sheet->OnOK();
    EXPECT_TRUE(driver.done());
    EXPECT_EQ(texts(), std::vector<std::string>{LoadString(IDS_WRITE_BACK_QUESTION) + " localhost ?"});
    EXPECT_TRUE(contains(server.list(), "ADDED=1"));
    EXPECT_TRUE(driver.waitBoxLines.count(LoadString(IDS_WRITING_LIST) + "localhost"));
}

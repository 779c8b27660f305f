// The console's exchange with the management server of deploy/ on a real
// lighttpd: start-up fetch, credentials, read-only start, write-back on OK,
// two consoles writing back, the unattended prompt, HTTPS, failed start-ups.
#include "platform/msgbox/msgbox.h"
#include "tests/support/fixed_host.h"
#include "tests/support/management_server.h"
#include "tests/support/private_program_dir.h"
#include "tests/support/testsupport.h"
#include "vardel/resources/string_table.h"
#include "vardel/shell/management_exchange.h"
#include "vardel/shell/vardel_tabs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <set>
#include <thread>

using testsupport::control;
using testsupport::kHttpPort;
using testsupport::kHttpsPort;
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

void click(QWidget* dialog, int id) {
    QTest::mouseClick(control<QAbstractButton>(dialog, id), Qt::LeftButton);
}

// Acts on the console's dialogs as they open, in the order given, and notes
// the lines of every wait box shown meanwhile (as it shows: a quick exchange
// may close the box before any timer runs). A credentials dialog that no step
// expects is cancelled, and the driver is then never done.
class DialogDriver : public QObject {
public:
    DialogDriver() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { poll(); });
        m_timer.start(5);
        qApp->installEventFilter(this);
    }
    ~DialogDriver() override { qApp->removeEventFilter(this); }
    void then(int id, std::function<void(QWidget*)> act) { m_steps.push_back({id, std::move(act)}); }
    bool done() const { return m_steps.empty() && !m_unexpected; }
    std::set<std::string> waitBoxLines;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* window = qobject_cast<QWidget*>(object);
        if (event->type() == QEvent::Show && window && window->isWindow() &&
            window->property("ctlId").toInt() == kWaitBox)
            waitBoxLines.insert(control<QLabel>(window, 1071)->text().toStdString() +
                                control<QLabel>(window, 1070)->text().toStdString());
        return false;
    }

private:
    void poll() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!window->isVisible())
                continue;
            const int id = window->property("ctlId").toInt();
            if (!m_steps.empty() && m_steps.front().id == id) {
                auto act = std::move(m_steps.front().act);
                m_steps.pop_front();
                act(window);
                return;
            }
            if (id == kCredentials) {
                m_unexpected = true;
                click(window, 2);
                return;
            }
        }
    }
    struct Step {
        int id;
        std::function<void(QWidget*)> act;
    };
    std::deque<Step> m_steps;
    bool m_unexpected = false;
    QTimer m_timer;
};

void retrieve(QWidget* prompt) {
    click(prompt, 1065);
    click(prompt, 1);
}

// Types the server's name, ticks SSL when asked, retrieves.
std::function<void(QWidget*)> retrieveFrom(const std::string& name, bool ssl) {
    return [name, ssl](QWidget* prompt) {
        control<QLineEdit>(prompt, 1064)->setText(QString::fromStdString(name));
        // The box's middle may lie beside its text: click() as on the text.
        if (ssl)
            control<QAbstractButton>(prompt, 1094)->click();
        retrieve(prompt);
    };
}

std::function<void(QWidget*)> credentials(const std::string& user, const std::string& password) {
    return [user, password](QWidget* dialog) {
        control<QLineEdit>(dialog, 1062)->setText(QString::fromStdString(user));
        control<QLineEdit>(dialog, 1063)->setText(QString::fromStdString(password));
        click(dialog, 1);
    };
}

const char* const kRegistryKey =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n";

// One console in its own program directory, its management server 127.0.0.1.
struct Console {
    explicit Console(int port = kHttpPort) {
        writeFile(dir.file("vardel.reg"), std::string(kRegistryKey) +
                                              "\"Name\"=\"127.0.0.1\"\r\n\"Port\"=\"" + std::to_string(port) +
                                              "\"\r\n\r\n");
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

// A peer on a loopback port that is no web server: to each connection it
// sends reply and closes, or, with no reply, stays silent for holdMs first.
class RawPeer {
public:
    RawPeer(int port, std::string reply, int holdMs = 0) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in a = testsupport::loopback(port);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(m_fd, 4), 0);
        m_thread = std::thread([this, reply = std::move(reply), holdMs] {
            for (int served = 0; served < 4 && !m_stop;) {
                pollfd p{m_fd, POLLIN, 0};
                if (::poll(&p, 1, 50) != 1)
                    continue;
                const int c = ::accept(m_fd, nullptr, nullptr);
                ++served;
                if (!reply.empty())
                    (void)!::write(c, reply.data(), reply.size());
                for (int held = 0; held < holdMs && !m_stop; held += 50)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                ::close(c);
            }
        });
    }
    ~RawPeer() {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }

private:
    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

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
    // The transfer file is named in the program directory.
    EXPECT_EQ(readFile(console.dir.file("result.txt")), kServerList);
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
    // The end notice still goes to the server of the start-up.
    server.stop();
    const std::string log = server.accessLog();
    const auto end = log.find("event=end");
    ASSERT_NE(end, std::string::npos) << log;
    const std::string line = log.substr(log.rfind('\n', end) + 1, end - log.rfind('\n', end));
    EXPECT_TRUE(contains(line, " 127.0.0.1:" + std::to_string(kHttpPort) + " ")) << line;
}

TEST_F(ExchangeTest, OverHttpsWithThePrivateCaBesideTheProgram) {
    testsupport::PrivateProgramDirectory programDir;
    ASSERT_TRUE(programDir.ok());
    ManagementServer server;
    server.putList(kServerList);
    programDir.write("webcall-ca.pem", server.caPem());
    Console console(kHttpsPort);
    DialogDriver driver;
    driver.then(kPrompt, retrieveFrom("localhost", true));
    driver.then(kCredentials, credentials("anna", "secret"));
    console.start();
    ASSERT_TRUE(driver.done());
    EXPECT_TRUE(texts().empty());
    EXPECT_EQ(console.serverNames(), std::vector<std::string>{"FS1"});

    console.addServer("ADDED");
    boxes.script.answers = {msgbox::IDYES};
    console.sheet->OnOK();
    EXPECT_TRUE(console.sheet->isEnded());
    EXPECT_EQ(texts(), std::vector<std::string>{LoadString(IDS_WRITE_BACK_QUESTION) + " localhost ?"});
    EXPECT_TRUE(contains(server.list(), "ADDED=1"));
    EXPECT_TRUE(contains(readFile(console.dir.file("vardel.reg")), "\"SSL\"=\"1\""));
}

TEST_F(ExchangeTest, FailedStartupIsReportedAndKeepsTheLocalList) {
    testsupport::PrivateProgramDirectory programDir;
    ASSERT_TRUE(programDir.ok());
    ManagementServer server;
    constexpr int kRawPort = 8081;
    std::unique_ptr<RawPeer> peer;
    const auto anna = credentials("anna", "secret");
    const std::string huge = kServerList + "; " + std::string(16 * 1024 * 1024, 'x') + "\r\n";
    struct Case {
        const char* what;
        int port;
        std::string name;
        bool ssl;
        std::function<void(QWidget*)> credentials; // the answer to the server's 401, if it comes to that
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        // The call's own 60-second bound is the library's; here the peer gives up first.
        {"accepts and stays silent", kRawPort, "127.0.0.1", false, nullptr,
         [&] { peer = std::make_unique<RawPeer>(kRawPort, "", 1500); }},
        {"answers bytes that are no HTTP", kRawPort, "127.0.0.1", false, nullptr,
         [&] { peer = std::make_unique<RawPeer>(kRawPort, "\x16\x03garbage\r\n\r\n[SERVERS]\r\nX=1\r\n"); }},
        {"serves a page for the list", kHttpPort, "127.0.0.1", false, anna,
         [&] { server.putList("<html><body>Welcome</body></html>\n"); }},
        {"serves a list over 16 MiB", kHttpPort, "127.0.0.1", false, anna, [&] { server.putList(huge); }},
        {"credentials cancelled", kHttpPort, "127.0.0.1", false, [](QWidget* dialog) { click(dialog, 2); },
         [&] { server.putList(kServerList); }},
        {"untrusted certificate", kHttpsPort, "localhost", true, nullptr, [] {}},
        {"certificate for another host name", kHttpsPort, "127.0.0.2", true, nullptr,
         [&] { programDir.write("webcall-ca.pem", server.caPem()); }},
    };
    for (const Case& c : cases) {
        c.arrange();
        Console console(c.port);
        DialogDriver driver;
        driver.then(kPrompt, retrieveFrom(c.name, c.ssl));
        if (c.credentials)
            driver.then(kCredentials, c.credentials);
        boxes.script.shown.clear();
        console.start();
        peer.reset();
        EXPECT_TRUE(driver.done()) << c.what;
        EXPECT_EQ(texts(), std::vector<std::string>{LoadString(IDS_MS_LIST_FAILED) + " " + c.name + ". " +
                                                    LoadString(IDS_USE_LOCAL)})
            << c.what;
        EXPECT_EQ(console.serverNames(), std::vector<std::string>{"LOCAL"}) << c.what;
        EXPECT_FALSE(std::filesystem::exists(console.dir.file("rlaweb.ini.etag"))) << c.what;
    }
}

TEST_F(ExchangeTest, WriteBackToADeadServerIsReportedAfterTheLocalSave) {
    // No server listens; the list stays local at start-up.
    Console console;
    DialogDriver driver;
    driver.then(kPrompt, [](QWidget* prompt) { click(prompt, 1); });
    console.start();
    ASSERT_TRUE(driver.done());

    console.addServer("ADDED");
    boxes.script.answers = {msgbox::IDYES};
    console.sheet->OnOK();
    EXPECT_TRUE(console.sheet->isEnded());
    // The failed end notice shows nothing.
    EXPECT_EQ(texts(), (std::vector<std::string>{LoadString(IDS_WRITE_BACK_QUESTION) + " 127.0.0.1 ?",
                                                 LoadString(IDS_WRITE_BACK_FAILED) + " 127.0.0.1"}));
    EXPECT_TRUE(contains(console.ini(), "ADDED=1"));
}

TEST_F(ExchangeTest, AServerAddedOnOneConsoleReachesTheOtherAtItsNextStart) {
    ManagementServer server;
    server.putList(kServerList);
    const auto startRetrieving = [](Console& console) {
        DialogDriver driver;
        driver.then(kPrompt, retrieve);
        driver.then(kCredentials, credentials("anna", "secret"));
        console.start();
        EXPECT_TRUE(driver.done());
    };
    const auto clickOk = [](Console& console) {
        console.sheet->show();
        click(console.sheet.get(), 1);
        EXPECT_TRUE(console.sheet->isEnded());
    };
    Console first, second;
    startRetrieving(first);
    startRetrieving(second);

    // Added as the Configuration tab adds a server, then OK and written back.
    first.addServer("ADDED");
    boxes.script.answers = {msgbox::IDYES};
    clickOk(first);
    // The second, started before, saves without writing back.
    boxes.script.answers = {msgbox::IDNO};
    clickOk(second);
    EXPECT_FALSE(contains(second.ini(), "ADDED=1"));

    startRetrieving(second);
    auto names = second.serverNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ADDED", "FS1"}));
}

TEST(ManagementPromptTest, StopTimerHoldsThePromptAndEscapeKeepsTheOpeningName) {
    CManagementServerDlg stopped(nullptr, "ms1", 0, 2);
    CManagementServerDlg running(nullptr, "ms1", 0, 2);
    stopped.show();
    running.show();
    click(&stopped, 1079);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !running.isVisible(); }, 10000));
    EXPECT_TRUE(running.timedOut());
    EXPECT_TRUE(stopped.isVisible());
    EXPECT_EQ(control<QLabel>(&stopped, 1078)->text(), "0");
    EXPECT_FALSE(control<QWidget>(&stopped, 1079)->isEnabled());

    control<QLineEdit>(&stopped, 1064)->setText("ms2");
    control<QAbstractButton>(&stopped, 1094)->click();
    click(&stopped, 1065);
    QTest::keyClick(&stopped, Qt::Key_Escape);
    EXPECT_FALSE(stopped.isVisible());
    EXPECT_EQ(stopped.serverName(), "ms1");
    EXPECT_EQ(stopped.useSsl(), 1);
    EXPECT_FALSE(stopped.retrieve());
    EXPECT_FALSE(stopped.timedOut());
}

namespace {

// Every (name, IP address) of a console's list, sorted.
std::vector<std::pair<std::string, std::string>> entries(const ServerList& servers) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& server : servers)
        out.emplace_back(server->name, server->ipAddress);
    std::sort(out.begin(), out.end());
    return out;
}

std::string section(const std::string& name, const std::string& ip) {
    return "[" + name + "]\r\nNOS=NT\r\nIP=" + ip + "\r\nIPX=\r\nSNMP_COMMUNITY=public\r\n";
}

} // namespace

// Lists that lose servers on the way or hold names the file cannot keep: read
// from disk, every server the file holds loads (the count's disagreement said
// once) and OK saves it back whole; fetched, only a whole list is taken.
TEST_F(ExchangeTest, HostileListsLoseNoServerAndOnlyWholeOnesAreFetched) {
    const std::string twoServers =
        "[SERVERS]\r\nA=1\r\nB=1\r\n" + section("A", "10.0.0.1") + section("B", "10.0.0.2");
    std::string fifty = "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\n", fiftySections;
    std::vector<std::pair<std::string, std::string>> fiftyEntries;
    for (int i = 10; i < 60; ++i) {
        const std::string name = "S" + std::to_string(i), ip = "10.0.1." + std::to_string(i);
        fifty += name + "=1\r\n";
        fiftySections += section(name, ip);
        fiftyEntries.emplace_back(name, ip);
    }
    const std::string longName(70 * 1024, 'L');
    using Entries = std::vector<std::pair<std::string, std::string>>;
    const Entries ab = {{"A", "10.0.0.1"}, {"B", "10.0.0.2"}};
    struct Case {
        const char* what;
        std::string body;
        Entries loaded;  // from disk
        bool countTold;  // the disagreement of the count is said at start-up
        bool fetchTaken; // the management server's answer is taken
    };
    const std::vector<Case> cases = {
        {"count missing", twoServers, ab, true, true},
        {"count not a number", "[ServerInfo]\r\nNumServers=two\r\n" + twoServers, ab, true, true},
        {"count negative", "[ServerInfo]\r\nNumServers=-5\r\n" + twoServers, ab, true, true},
        {"count 1 for 50 servers", fifty + fiftySections, fiftyEntries, true, true},
        {"a 70 KB name before an ordinary one",
         "[ServerInfo]\r\nNumServers=2\r\n[SERVERS]\r\n" + longName + "=1\r\nB=1\r\n" +
             section(longName, "10.0.0.1") + section("B", "10.0.0.2"),
         {{"B", "10.0.0.2"}, {longName, "10.0.0.1"}},
         false,
         true},
        {"cut off mid-line",
         "[ServerInfo]\r\nNumServers=2\r\n" + twoServers.substr(0, twoServers.size() - 4),
         {{"A", "10.0.0.1"}, {"B", "10.0.0.2"}},
         false,
         false},
        {"cut off after [SERVERS]",
         "[ServerInfo]\r\nNumServers=2\r\n[SERVERS]\r\nA=1\r\nB=1\r\n",
         {{"A", ""}, {"B", ""}},
         false,
         false},
        {"cut off after the count", "[ServerInfo]\r\nNumServers=2\r\n", {}, true, false},
        {"a page that starts with [SERVERS]",
         "[SERVERS]\r\n<html><body>Welcome</body></html>\r\n",
         {},
         false,
         false},
        {"a name with ']'",
         "[ServerInfo]\r\nNumServers=2\r\n[SERVERS]\r\nA=1\r\nBR]ACKET=1\r\n" + section("A", "10.0.0.1") +
             section("BR]ACKET", "10.0.0.2"),
         {{"A", "10.0.0.1"}, {"BR]ACKET", "10.0.0.2"}},
         false,
         false},
        {"a name with '=' saved by an older console",
         "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nEQ=NAME=1\r\n" + section("EQ=NAME", "10.0.0.1"),
         {{"EQ", ""}},
         false,
         false},
        {"a name with a tab",
         "[ServerInfo]\r\nNumServers=1\r\n[SERVERS]\r\nT\tX=1\r\n" + section("T\tX", "10.0.0.1"),
         {{"T\tX", "10.0.0.1"}},
         false,
         false},
    };
    ManagementServer server;
    for (const Case& c : cases) {
        // From disk, with no management server.
        Console local;
        writeFile(local.dir.file("vardel.reg"), std::string(kRegistryKey) + "\r\n");
        writeFile(local.dir.file("rlaweb.ini"), c.body);
        boxes.script.shown.clear();
        local.start();
        EXPECT_EQ(entries(local.sheet->servers()), c.loaded) << c.what;
        // Told once, never as "Error allocating memory.".
        ASSERT_EQ(boxes.script.shown.size(), c.countTold ? 1u : 0u) << c.what;
        if (c.countTold) {
            EXPECT_TRUE(contains(boxes.script.shown[0].text, "NumServers")) << c.what;
        }
        local.sheet->OnOK();
        ASSERT_TRUE(local.sheet->isEnded()) << c.what;
        ServerList again;
        boxes.script.shown.clear();
        ASSERT_EQ(LoadServerList(local.dir.file("rlaweb.ini"), "CLIENT1", again), 0) << c.what;
        EXPECT_EQ(entries(again), c.loaded) << c.what;
        EXPECT_TRUE(boxes.script.shown.empty()) << c.what;

        // Fetched.
        server.putList(c.body);
        Console fetching;
        DialogDriver driver;
        driver.then(kPrompt, retrieve);
        driver.then(kCredentials, credentials("anna", "secret"));
        boxes.script.shown.clear();
        fetching.start();
        const bool refused = !boxes.script.shown.empty() &&
                             boxes.script.shown[0].text ==
                                 LoadString(IDS_MS_LIST_FAILED) + " 127.0.0.1. " + LoadString(IDS_USE_LOCAL);
        EXPECT_EQ(refused, !c.fetchTaken) << c.what;
        if (c.fetchTaken)
            EXPECT_EQ(entries(fetching.sheet->servers()), c.loaded) << c.what;
        else
            EXPECT_EQ(fetching.serverNames(), std::vector<std::string>{"LOCAL"}) << c.what;
    }
}

TEST_F(ExchangeTest, WriteBackAfterAFailedFetchSaysTheListWasNeverFetched) {
    ManagementServer server;
    server.putList("<html><body>Welcome</body></html>\n");
    Console console;
    DialogDriver driver;
    driver.then(kPrompt, retrieve);
    driver.then(kCredentials, credentials("anna", "secret"));
    console.start();
    ASSERT_EQ(texts().size(), 1u); // the failed fetch

    boxes.script.answers = {msgbox::IDYES};
    console.sheet->OnOK();
    EXPECT_TRUE(console.sheet->isEnded());
    ASSERT_EQ(texts().size(), 3u);
    EXPECT_EQ(texts()[2], LoadString(IDS_WRITE_BACK_FAILED) + " 127.0.0.1\n" +
                              LoadString(IDS_LIST_NOT_FETCHED) + " " + console.dir.file("rlaweb.ini") + ".");
    EXPECT_FALSE(std::filesystem::exists(console.dir.file("rlaweb.ini.rejected")));
    EXPECT_EQ(server.list(), "<html><body>Welcome</body></html>\n");
}

// The Alerts page's actions on a selection of rows, beside the same done one
// alert at a time in the notify window.

#include "tests/support/testsupport.h"
#include "vardel/alerts/alerts_page.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/store/program_env.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "alerts_page_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

constexpr int kAcknowledgeButton = 1355;
constexpr int kClearButton = 1356;
constexpr int kShowButton = 1357;
constexpr int kLaunchButton = 1358;
constexpr int kJumpButton = 1359;

// One console's alerts: a store, its servers' counts and its log.
struct Console {
    explicit Console(const std::string& dir, const std::string& logName) {
        store.programDir = dir;
        settings.programDirectory = dir;
        settings.logPath = dir + logName;
        settings.managementServerName = "mgmt";
        settings.browserPath = "browser";
        for (const char* name : {"A", "B", "C"}) {
            auto s = std::make_unique<ManagedServer>();
            s->name = name;
            servers.push_back(std::move(s));
        }
        for (int i = 0; i < 8; ++i) {
            auto r = std::make_unique<AlertRecord>();
            r->origin = kOriginTrap;
            r->reception = kReceptionUnclassified;
            r->serverName = std::string(1, char('A' + i % 3));
            r->enterprise = "1.3.6.1.4.1.9999";
            r->trapKey = "1.3.6.1.4.1.9999." + std::to_string(i % 2);
            r->alertText = "alert " + std::to_string(i);
            r->launchAllowed = i == 3 ? 0 : 1;
            store.ClassifyAlert(std::move(r));
            FindServerByName(servers, store.alerts.front()->serverName)->outstandingAlerts += 1;
        }
    }
    std::vector<int> counts() const {
        std::vector<int> out;
        for (const auto& s : servers)
            out.push_back(s->outstandingAlerts);
        return out;
    }
    std::string log() const {
        std::ifstream in(settings.logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        // Acknowledged when the test ran, to the second: the same stamp.
        return QString::fromStdString(text.str())
            .replace(QRegularExpression("[A-Z][a-z]+ \\d\\d, \\d{4}, \\d\\d:\\d\\d:\\d\\d"), "WHEN")
            .toStdString();
    }

    SilentAnnouncer silent;
    AlertStore store{&silent};
    ServerList servers;
    ConsoleSettings settings;
    ServerListAlertCounter counter{servers};
};

class AlertsPageTest : public ::testing::Test {
protected:
    QApplication& application = app();
    testsupport::TempDir dir;
    std::vector<std::string> launched;
    std::vector<int> shown;
    Console one{dir.path(), "one.txt"};
    Console page{dir.path(), "page.txt"};
    CNotifyWindow notify{NotifyWindowContext{one.store, one.settings, one.counter, {}, {}, {}}};
    CAlertsPage alerts{AlertsPageContext{
        page.store,
        page.settings,
        page.counter,
        [this](int n) { shown.push_back(n); },
        [this](const std::string& name) { launched.push_back(name); },
        {},
        {},
        {},
        CurrentUserName(),
    }};

    void select(const std::vector<int>& sequences) {
        QItemSelectionModel* selection = alerts.view().selectionModel();
        selection->clear();
        for (int n : sequences) {
            const int row = alerts.model().rowOf(page.store.findBySequence(n));
            ASSERT_GE(row, 0);
            selection->select(alerts.model().index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    void press(int id) {
        auto* button = testsupport::control<QPushButton>(&alerts, id);
        ASSERT_TRUE(button && button->isEnabled()) << id;
        QTest::mouseClick(button, Qt::LeftButton);
    }
};

TEST_F(AlertsPageTest, AcknowledgeAndClearOfASelectionLeaveTheLogAndCountsOfOneByOne) {
    // Alerts 2, 5 and 7 acknowledged, then 2, 3, 5 and 8 cleared.
    for (int n : {2, 5, 7}) {
        notify.ShowAlert(n);
        notify.OnAcknowledge();
    }
    for (int n : {8, 5, 3, 2}) {
        notify.ShowAlert(n);
        notify.accept();
    }

    select({7, 2, 5});
    press(kAcknowledgeButton);
    EXPECT_EQ(alerts.model()
                  .index(alerts.model().rowOf(page.store.findBySequence(2)), AlertListModel::kAcknowledgedCol)
                  .data()
                  .toString()
                  .toStdString(),
              CurrentUserName() + ", " + page.store.findBySequence(2)->acknowledgedAt);
    select({2, 3, 5, 8});
    press(kClearButton);

    EXPECT_NE(one.log().find("WHEN"), std::string::npos);
    EXPECT_EQ(page.log(), one.log());
    EXPECT_EQ(page.counts(), one.counts());
    ASSERT_EQ(page.store.count, one.store.count);
    for (auto a = page.store.alerts.begin(), b = one.store.alerts.begin(); a != page.store.alerts.end();
         ++a, ++b)
        EXPECT_EQ((*a)->alertText, (*b)->alertText);
    EXPECT_EQ(alerts.model().rowCount(), 4);
}

TEST_F(AlertsPageTest, ShowLaunchAndJumpToTheNewestCritical) {
    EXPECT_FALSE(testsupport::control<QPushButton>(&alerts, kShowButton)->isEnabled());
    select({4});
    press(kShowButton);
    EXPECT_EQ(shown, std::vector<int>{4});
    // One launch per server, none for an alert that allows none (4, of A).
    select({1, 4, 7, 2});
    press(kLaunchButton);
    EXPECT_EQ(launched, (std::vector<std::string>{"A", "B"}));

    auto r = std::make_unique<AlertRecord>();
    r->serverName = "C";
    r->trapKey = "1.3.6.1.4.1.9999.7";
    r->reception = kReceptionDefined;
    page.store.ClassifyAlert(std::move(r)); // no definition file: informational
    EXPECT_EQ(alerts.model().newestCriticalRow(), -1);
    page.store.alerts.back()->severity = kSeverityCritical; // the oldest, 1
    alerts.model().sort(AlertListModel::kServerCol, Qt::DescendingOrder);
    press(kJumpButton);
    const QModelIndex current = alerts.view().currentIndex();
    EXPECT_EQ(alerts.model().alertAt(current.row()), page.store.findBySequence(1));
    EXPECT_TRUE(alerts.view().selectionModel()->isRowSelected(current.row()));
}

} // namespace

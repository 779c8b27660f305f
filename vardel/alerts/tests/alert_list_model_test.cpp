// The Alerts page's model over the alert store: order, filter, groups, and
// the store's changes while it shows them.

#include "tests/support/testsupport.h"
#include "vardel/alerts/alert_list_model.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QItemSelectionModel>
#include <algorithm>
#include <gtest/gtest.h>
#include <tuple>

namespace {

QApplication& app() {
    static int argc = 1;
    static char name[] = "alert_list_model_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

class AlertListModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        store.programDir = dir.path();
        testsupport::writeFile(dir.file("VDTrap.ini"),
                               "[Header]\r\nTotalNum=1\r\n[EnterpriseList]\r\n1.3.6.1.4.1.9999=acme.ini\r\n");
        testsupport::writeFile(dir.file("acme.ini"), "[1.3.6.1.4.1.9999.1]\r\nAlarmString=Fan %1 failed\r\n"
                                                     "Severity=CRITICAL\r\n"
                                                     "[1.3.6.1.4.1.9999.2]\r\nAlarmString=Disk %1 full\r\n"
                                                     "Severity=WARNING\r\n");
    }
    // A defined trap (specific 1 critical, 2 warning) or, with specific 0, an
    // unclassified one, whose text is text.
    const AlertRecord* add(const std::string& server, int specific, const std::string& text) {
        return addTo(store, server, specific, text);
    }
    static const AlertRecord* addTo(AlertStore& store, const std::string& server, int specific,
                                    const std::string& text) {
        auto r = std::make_unique<AlertRecord>();
        r->origin = kOriginTrap;
        r->serverName = server;
        r->enterprise = "1.3.6.1.4.1.9999";
        if (specific == 0) {
            r->reception = kReceptionUnclassified;
            r->trapKey = "1.3.6.1.4.1.9999.99";
            r->alertText = text;
            r->description = "unknown";
        } else {
            r->trapKey = "1.3.6.1.4.1.9999." + std::to_string(specific);
            r->bindingCount = 1;
            r->bindings.push_back({"1.3.6.1.4.1.9999.1.1", text, 4});
        }
        store.ClassifyAlert(std::move(r));
        return store.alerts.front().get();
    }
    std::vector<std::string> column(int col) {
        std::vector<std::string> out;
        for (int r = 0; r < model.rowCount(); ++r)
            out.push_back(model.index(r, col).data().toString().toStdString());
        return out;
    }
    void filter(AlertListModel::Filter f) {
        model.setFilter(f);
        model.finishPass();
    }

    QApplication& application = app();
    testsupport::TempDir dir;
    SilentAnnouncer silent;
    AlertStore store{&silent};
    AlertListModel model{store};
    QAbstractItemModelTester tester{&model, QAbstractItemModelTester::FailureReportingMode::Warning};
};

using Strings = std::vector<std::string>;

TEST_F(AlertListModelTest, SortsByAnyColumnAndFiltersBySeverityServerAndText) {
    add("beta", 1, "fan1");
    add("Alpha", 2, "sda");
    add("gamma", 0, "odd thing");
    add("alpha", 1, "fan2");
    model.flush();
    EXPECT_EQ(model.headerData(AlertListModel::kAcknowledgedCol, Qt::Horizontal, Qt::DisplayRole),
              "Acknowledged");
    EXPECT_EQ(model.headerData(AlertListModel::kCountCol, Qt::Horizontal, Qt::DisplayRole), "Count");
    // Newest first until told otherwise.
    EXPECT_EQ(column(AlertListModel::kSequenceCol), (Strings{"4", "3", "2", "1"}));
    EXPECT_EQ(column(AlertListModel::kSeverityCol), (Strings{"Critical", "Unknown", "Warning", "Critical"}));

    model.sort(AlertListModel::kServerCol, Qt::AscendingOrder);
    EXPECT_EQ(column(AlertListModel::kServerCol), (Strings{"Alpha", "alpha", "beta", "gamma"}));
    model.sort(AlertListModel::kSeverityCol, Qt::DescendingOrder);
    EXPECT_EQ(column(AlertListModel::kAlertTextCol),
              (Strings{"Fan fan2 failed", "Fan fan1 failed", "Disk sda full", "odd thing"}));

    filter({kSeverityCritical, "", "", false});
    EXPECT_EQ(column(AlertListModel::kAlertTextCol), (Strings{"Fan fan2 failed", "Fan fan1 failed"}));
    filter({AlertListModel::kAnySeverity, "ALPH", "", false});
    EXPECT_EQ(model.rowCount(), 2);
    filter({AlertListModel::kAnySeverity, "", "FAN1", false});
    EXPECT_EQ(column(AlertListModel::kServerCol), (Strings{"beta"}));
    filter({kSeverityUnclassified, "", "", false});
    EXPECT_EQ(column(AlertListModel::kServerCol), (Strings{"gamma"}));
    EXPECT_EQ(model.newestCriticalRow(), -1);
    filter({});
    EXPECT_EQ(model.alertAt(model.newestCriticalRow())->alertText, "Fan fan2 failed");
}

TEST_F(AlertListModelTest, GroupsFoldTheSameServersSameTrapAndFollowTheStore) {
    add("srv", 1, "a");
    add("srv", 2, "b");
    const AlertRecord* oldest = store.alerts.back().get();
    add("srv", 1, "c");
    add("other", 1, "d");
    filter({AlertListModel::kAnySeverity, "", "", true});
    model.sort(AlertListModel::kCountCol, Qt::DescendingOrder);
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.index(0, AlertListModel::kCountCol).data().toInt(), 2);
    EXPECT_EQ(model.alertAt(0)->alertText, "Fan c failed"); // the group's newest
    EXPECT_EQ(model.alertsAt(0).front(), oldest);
    EXPECT_EQ(model.rowOf(oldest), 0);
    EXPECT_EQ(model.alertsShown(), 4u);

    // A third repeat, then the group's members cleared one by one.
    add("srv", 1, "e");
    model.flush();
    EXPECT_EQ(model.index(0, AlertListModel::kCountCol).data().toInt(), 3);
    for (const AlertRecord* a : model.alertsAt(0))
        store.RemoveAlert(store.sequenceOf(*a));
    EXPECT_EQ(model.alertAt(0), nullptr); // on its way out
    model.flush();
    EXPECT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.alertsShown(), 2u);
}

TEST_F(AlertListModelTest, AlertsStoredAndRemovedMeanwhileTakeTheirPlaces) {
    store.ceiling = 5;
    for (int i = 0; i < 5; ++i)
        add("s" + std::to_string(i % 3), 1, std::to_string(i));
    model.sort(AlertListModel::kServerCol, Qt::AscendingOrder);
    // A pass under way while alerts arrive and the oldest are dropped.
    model.sliceBudget = std::chrono::milliseconds(0);
    model.setFilter({AlertListModel::kAnySeverity, "s", "", false});
    for (int i = 5; i < 9; ++i)
        add("s" + std::to_string(i % 3), 1, std::to_string(i));
    model.finishPass();
    EXPECT_EQ(column(AlertListModel::kServerCol), (Strings{"s0", "s1", "s1", "s2", "s2"}));
    // Stored and removed between two ticks, at the sorted places.
    store.RemoveAlert(store.sequenceOf(*model.alertAt(1)));
    EXPECT_EQ(model.alertAt(1), nullptr);
    add("s0", 2, "late");
    model.flush();
    EXPECT_EQ(column(AlertListModel::kServerCol), (Strings{"s0", "s0", "s1", "s2", "s2"}));
    EXPECT_EQ(model.rowCount(), store.count);
    store.ClearAll();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(AlertListModelTest, RemovingSelectedAlertsTogetherLeavesWhatOneByOneDoes) {
    AlertStore single{&silent};
    single.programDir = store.programDir;
    for (int i = 0; i < 6; ++i) {
        add("s", 1, std::to_string(i));
        addTo(single, "s", 1, std::to_string(i));
    }
    model.flush();
    const std::vector<const AlertRecord*> chosen = {model.alertAt(1), model.alertAt(4)};
    const std::vector<int> numbers = {store.sequenceOf(*chosen[0]), store.sequenceOf(*chosen[1])};
    const auto removed = store.RemoveAlerts(chosen);
    single.RemoveAlert(numbers[0]);
    single.RemoveAlert(numbers[1] > numbers[0] ? numbers[1] - 1 : numbers[1]);
    ASSERT_EQ(removed.size(), 2u);
    ASSERT_EQ(store.count, single.count);
    for (auto a = store.alerts.begin(), b = single.alerts.begin(); a != store.alerts.end(); ++a, ++b) {
        EXPECT_EQ(store.sequenceOf(**a), single.sequenceOf(**b));
        EXPECT_EQ((*a)->alertText, (*b)->alertText);
    }
    model.flush();
    EXPECT_EQ(model.rowCount(), 4);
}

// Server and number of each row, and of the store's alerts whose server holds
// needle, worked out afresh: by server, then by arrival; reversed for descending.
Strings shownByServer(const AlertListModel& model, const AlertStore& store) {
    Strings out;
    for (int r = 0; r < model.rowCount(); ++r)
        out.push_back(model.alertAt(r)->serverName + "#" +
                      std::to_string(store.sequenceOf(*model.alertAt(r))));
    return out;
}

Strings expectedByServer(const AlertStore& store, const std::string& needle, bool ascending) {
    std::vector<const AlertRecord*> alerts;
    for (const auto& a : store.alerts)
        if (a->serverName.find(needle) != std::string::npos)
            alerts.push_back(a.get());
    std::sort(alerts.begin(), alerts.end(), [&](const AlertRecord* a, const AlertRecord* b) {
        const bool before = std::tie(a->serverName, a->sequence) < std::tie(b->serverName, b->sequence);
        return ascending ? before : !before && a != b;
    });
    Strings out;
    for (const AlertRecord* a : alerts)
        out.push_back(a->serverName + "#" + std::to_string(store.sequenceOf(*a)));
    return out;
}

std::string serverName(int i) {
    return "s" + std::to_string(10 + (i * 7) % 37);
}

TEST_F(AlertListModelTest, APassTakesAlertsRemovedAndStoredMeanwhileInOrder) {
    for (int i = 0; i < 3000; ++i)
        add(serverName(i), 0, "x");
    model.sort(AlertListModel::kServerCol, Qt::DescendingOrder);
    model.sliceBudget = std::chrono::milliseconds(0);
    model.setFilter({AlertListModel::kAnySeverity, "1", "", false});
    QCoreApplication::processEvents();
    ASSERT_TRUE(model.passRunning());
    // The newest were taken already, the oldest not yet; newcomers push the
    // oldest out of the store.
    store.RemoveAlert(store.count);
    store.RemoveAlert(store.count - 5);
    store.RemoveAlert(2);
    store.ceiling = store.count;
    for (int i = 0; i < 40; ++i)
        add(serverName(i * 3), 0, "y");
    QCoreApplication::processEvents();
    model.finishPass();
    EXPECT_EQ(shownByServer(model, store), expectedByServer(store, "1", false));

    // Sorted by another column while it ran: sorted afresh at its end.
    model.setFilter({AlertListModel::kAnySeverity, "2", "", false});
    QCoreApplication::processEvents();
    model.sort(AlertListModel::kServerCol, Qt::AscendingOrder);
    model.finishPass();
    EXPECT_EQ(shownByServer(model, store), expectedByServer(store, "2", true));
}

// Many scattered rows leaving and coming at once: one change of layout that
// keeps the order and the selection.
TEST_F(AlertListModelTest, AFlushOfManyRunsKeepsTheOrderAndTheSelection) {
    for (int i = 0; i < 600; ++i)
        add(serverName(i), 0, "x");
    model.sort(AlertListModel::kServerCol, Qt::AscendingOrder);
    model.flush();
    QItemSelectionModel selection(&model);
    const AlertRecord* chosen = model.alertAt(300);
    selection.select(model.index(300, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    std::vector<const AlertRecord*> leaving;
    int n = 0;
    for (const auto& a : store.alerts)
        if (++n % 9 == 0 && a.get() != chosen)
            leaving.push_back(a.get());
    store.RemoveAlerts(leaving);
    for (int i = 0; i < 30; ++i)
        add(serverName(i * 5), 0, "y");
    model.flush();
    EXPECT_EQ(shownByServer(model, store), expectedByServer(store, "", true));
    const QModelIndexList rows = selection.selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(model.alertAt(rows.front().row()), chosen);
}

// Past sortedAtOnce rows a sort is a pass: the old order stays shown until it
// ends, then the selection follows its alert.
TEST_F(AlertListModelTest, ALargeSortRunsAsAPassAndKeepsTheSelection) {
    for (int i = 0; i < 500; ++i)
        add(serverName(i), 0, "x");
    model.flush();
    model.sortedAtOnce = 100;
    model.sliceBudget = std::chrono::milliseconds(0);
    QItemSelectionModel selection(&model);
    const AlertRecord* chosen = model.alertAt(7);
    selection.select(model.index(7, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    model.sort(AlertListModel::kServerCol, Qt::AscendingOrder);
    ASSERT_TRUE(model.passRunning());
    EXPECT_FALSE(model.filtering());
    EXPECT_EQ(model.alertAt(7), chosen);
    store.RemoveAlert(1);
    add(serverName(3), 0, "y");
    model.finishPass();
    EXPECT_EQ(shownByServer(model, store), expectedByServer(store, "", true));
    const QModelIndexList rows = selection.selectedRows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(model.alertAt(rows.front().row()), chosen);
}

// The pass over a million alerts and its sort end with every alert in order;
// how long they take is bench_alerts_page's business.
TEST_F(AlertListModelTest, KeepsUpWithAMillionAlerts) {
    constexpr int kAlerts = 1000000;
    for (int i = 0; i < kAlerts; ++i)
        add("server-" + std::to_string(i % 200), 0, i % 10 == 0 ? "disk" : "fan");
    model.flush();
    EXPECT_EQ(model.rowCount(), kAlerts);
    filter({AlertListModel::kAnySeverity, "", "disk", false});
    EXPECT_EQ(model.rowCount(), kAlerts / 10);
    model.sort(AlertListModel::kServerCol, Qt::AscendingOrder);
    EXPECT_EQ(model.index(0, AlertListModel::kServerCol).data().toString(), "server-0");
    EXPECT_EQ(model.index(model.rowCount() - 1, AlertListModel::kServerCol).data().toString(), "server-90");
    filter({AlertListModel::kAnySeverity, "", "", true});
    EXPECT_EQ(model.rowCount(), 200);
    EXPECT_EQ(model.alertsShown(), std::size_t(kAlerts));
}

} // namespace

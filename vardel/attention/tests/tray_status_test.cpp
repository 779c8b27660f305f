// The status-area icon against a real StatusNotifierWatcher on a private
// session bus, the test playing the host.

#include "tests/support/testsupport.h"
#include "vardel/attention/tests/bus_peers.h"
#include "vardel/attention/tray_status.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QVariant property(const QString& service, const QString& path, const QString& interface,
                  const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(service, path, kProperties, "Get");
    get << interface << name;
    const QDBusReply<QDBusVariant> reply = callWithin(get);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

// Registers the test's connection as the host, until the watcher says so (a
// watcher that has just taken its name may not serve its object yet).
bool registerAsHost() {
    return waitUntil([] {
        QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, "/StatusNotifierWatcher", kWatcher,
                                                           "RegisterStatusNotifierHost");
        call << QDBusConnection::sessionBus().baseService();
        callWithin(call);
        return property(kWatcher, "/StatusNotifierWatcher", kWatcher, "IsStatusNotifierHostRegistered")
            .toBool();
    });
}

// The item registered with the watcher, as service and path; empty when none.
std::pair<QString, QString> registeredItem() {
    const QStringList items =
        property(kWatcher, "/StatusNotifierWatcher", kWatcher, "RegisteredStatusNotifierItems")
            .toStringList();
    if (items.isEmpty())
        return {};
    const QString item = items.first();
    const int slash = item.indexOf('/');
    if (slash < 0)
        return {item, "/StatusNotifierItem"};
    return {item.left(slash), item.mid(slash)};
}

// The centre pixel of the largest picture the item offers (a(iiay), ARGB32
// in network byte order).
QColor itemCentre(const std::pair<QString, QString>& item) {
    const QVariant value = property(item.first, item.second, "org.kde.StatusNotifierItem", "IconPixmap");
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    int bestWidth = 0;
    QColor centre;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray data;
        argument.beginStructure();
        argument >> width >> height >> data;
        argument.endStructure();
        if (width <= bestWidth || data.size() < width * height * 4)
            continue;
        bestWidth = width;
        const auto* p =
            reinterpret_cast<const uchar*>(data.constData()) + ((height / 2) * width + width / 2) * 4;
        centre = QColor(p[1], p[2], p[3], p[0]);
    }
    argument.endArray();
    return centre;
}

// Title and text of the item's tooltip ((sa(iiay)ss)).
QString itemToolTip(const std::pair<QString, QString>& item) {
    const QVariant value = property(item.first, item.second, "org.kde.StatusNotifierItem", "ToolTip");
    if (!value.canConvert<QDBusArgument>())
        return {};
    const QDBusArgument argument = value.value<QDBusArgument>();
    QString iconName, title, text;
    argument.beginStructure();
    argument >> iconName;
    argument.beginArray();
    while (!argument.atEnd()) {
        int width = 0, height = 0;
        QByteArray data;
        argument.beginStructure();
        argument >> width >> height >> data;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> text;
    argument.endStructure();
    return title + "\n" + text;
}

QColor pictureCentre(AttentionLevel level) {
    const QImage image = TrayStatus::pictureOf(level).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// The worst outstanding state follows alerts stored, cleared and dropped for
// the ceiling; servers count as DOWN by either status.
TEST(AttentionSummaryTest, WorstStateAndCounts) {
    QTemporaryDir dir;
    const std::string programDir = dir.path().toStdString() + "/";
    // Network UP normal, DOWN warning; the agent file is missing: unclassified.
    testsupport::writeFile(
        programDir + "VDTRAPSW1.INI",
        "[1.1001]\nTrapString=up\nSeverity=NORMAL\n[1.1002]\nTrapString=down\nSeverity=WARNING\n");
    SilentAnnouncer quiet;
    AlertStore store(&quiet);
    store.programDir = programDir;
    ServerList servers;
    for (const auto& [snmp, network] : {std::pair{"UP", "UP"}, {"DOWN", "UP"}, {"INIT", "DOWN"}}) {
        servers.push_back(std::make_unique<ManagedServer>());
        servers.back()->snmpStatus = snmp;
        servers.back()->networkStatus = network;
    }
    EXPECT_EQ(SummarizeAttention(store, servers), (AttentionSummary{AttentionLevel::none, 0, 2}));

    store.RaiseStateAlert("a", "UP", kStateSourceNetwork);
    EXPECT_EQ(SummarizeAttention(store, servers).worst, AttentionLevel::normal);
    store.RaiseStateAlert("b", "DOWN", kStateSourceNetwork);
    store.RaiseStateAlert("c", "DOWN", kStateSourceAgent);
    EXPECT_EQ(SummarizeAttention(store, servers), (AttentionSummary{AttentionLevel::warning, 3, 2}));
    EXPECT_EQ(AttentionToolTip(SummarizeAttention(store, servers)), "3 outstanding alerts, 2 servers DOWN");

    // An acknowledged alert no longer counts.
    store.Acknowledge(2, "alice");
    EXPECT_EQ(SummarizeAttention(store, servers), (AttentionSummary{AttentionLevel::informational, 2, 2}));
    ASSERT_NE(store.RemoveAlert(2), nullptr); // the warning
    EXPECT_EQ(SummarizeAttention(store, servers).worst, AttentionLevel::informational);
    store.ceiling = 1; // the next alert drops both others
    store.RaiseStateAlert("a", "UP", kStateSourceNetwork);
    EXPECT_EQ(SummarizeAttention(store, servers), (AttentionSummary{AttentionLevel::normal, 1, 2}));
    store.ClearAll();
    EXPECT_EQ(SummarizeAttention(store, servers).worst, AttentionLevel::none);
}

// The item registers with the watcher, its picture follows the worst state,
// its tooltip gives the counts, and activating it shows the alerts.
TEST(TrayStatusTest, RegistersAndShowsTheWorstState) {
    BusDaemon watcher("status-notifier-watcher", {}, kWatcher);
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(registerAsHost());

    int alertsShown = 0;
    std::vector<SnoozePeriod> snoozed;
    TrayStatus tray({[&] { ++alertsShown; }, {}, {}, [&](SnoozePeriod p) { snoozed.push_back(p); }},
                    QDBusConnection::sessionBus());
    tray.show({AttentionLevel::warning, 3, 1});
    tray.start();
    std::pair<QString, QString> item;
    ASSERT_TRUE(waitUntil([&] { return !(item = registeredItem()).first.isEmpty(); }));
    EXPECT_TRUE(tray.iconShown());

    ASSERT_NE(pictureCentre(AttentionLevel::warning), pictureCentre(AttentionLevel::critical));
    ASSERT_TRUE(waitUntil([&] { return itemCentre(item) == pictureCentre(AttentionLevel::warning); }))
        << itemCentre(item).name().toStdString();
    EXPECT_TRUE(waitUntil([&] { return itemToolTip(item).contains("3 outstanding alerts, 1 servers DOWN"); }))
        << itemToolTip(item).toStdString();

    tray.show({AttentionLevel::critical, 4, 1});
    EXPECT_TRUE(waitUntil([&] { return itemCentre(item) == pictureCentre(AttentionLevel::critical); }));
    tray.show({AttentionLevel::none, 0, 0});
    EXPECT_TRUE(waitUntil([&] { return itemCentre(item) == pictureCentre(AttentionLevel::none); }));

    QDBusMessage activate =
        QDBusMessage::createMethodCall(item.first, item.second, "org.kde.StatusNotifierItem", "Activate");
    activate << 0 << 0;
    QDBusConnection::sessionBus().asyncCall(activate);
    EXPECT_TRUE(waitUntil([&] { return alertsShown == 1; }));

    // The menu: Show Alerts, Show Console, Snooze All (three periods), Quit.
    QStringList texts;
    for (QAction* a : tray.menu()->actions())
        texts << a->text();
    EXPECT_EQ(texts, (QStringList{"Show Alerts", "Show Console", "Snooze All", "", "Quit"}));
    const QList<QAction*> periods = tray.menu()->actions().at(2)->menu()->actions();
    ASSERT_EQ(periods.size(), 3);
    EXPECT_EQ(periods.at(2)->text(), "Until tomorrow");
    periods.at(1)->trigger();
    EXPECT_EQ(snoozed, (std::vector<SnoozePeriod>{SnoozePeriod::hour}));
}

// No status area at start: no icon, and the console carries on; a host that
// comes later gets the icon.
TEST(TrayStatusTest, LateHostIsPickedUp) {
    TrayStatus tray({}, QDBusConnection::sessionBus());
    tray.show({AttentionLevel::critical, 1, 0});
    tray.start();
    ASSERT_TRUE(waitUntil([&] { return !tray.looking(); }));
    EXPECT_FALSE(tray.iconShown());

    BusDaemon watcher("status-notifier-watcher", {}, kWatcher);
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(registerAsHost());
    std::pair<QString, QString> item;
    ASSERT_TRUE(waitUntil([&] { return !(item = registeredItem()).first.isEmpty(); })) << tray.iconShown();
    EXPECT_TRUE(tray.iconShown());
    EXPECT_TRUE(waitUntil([&] { return itemCentre(item) == pictureCentre(AttentionLevel::critical); }));
}

} // namespace

namespace {

// The X parent of a window; 0 when it cannot be told.
xcb_window_t xParent(xcb_window_t window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return 0;
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(x11->connection(), xcb_query_tree(x11->connection(), window), nullptr);
    const xcb_window_t parent = tree ? tree->parent : 0;
    const xcb_window_t root = tree ? tree->root : 0;
    free(tree);
    return parent == root ? 0 : parent;
}

} // namespace

// Without a watcher, an XEmbed tray (Debian's trayer) takes the icon: the
// icon's window is reparented into the tray.
TEST(TrayStatusTest, FallsBackToAnXEmbedTray) {
    ASSERT_FALSE(busNameOwned(kWatcher));
    TrayStatus tray({}, QDBusConnection::sessionBus());
    tray.show({AttentionLevel::warning, 1, 0});
    tray.start();
    ASSERT_TRUE(waitUntil([&] { return !tray.looking(); }));
    EXPECT_FALSE(tray.iconShown());

    QProcess trayer;
    trayer.start("trayer", {"--edge", "top", "--align", "right"});
    ASSERT_TRUE(trayer.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return tray.iconShown(); }));
    const auto embedded = [] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->inherits("QSystemTrayIconSys") &&
                xParent(static_cast<xcb_window_t>(widget->winId())) != 0)
                return true;
        return false;
    };
    EXPECT_TRUE(waitUntil(embedded));
    trayer.kill();
    trayer.waitForFinished();
}

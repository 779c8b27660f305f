// The notify window driven through its widgets (offscreen), and its printout.

#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/testsupport.h"
#include "vardel/alerts/notify_window.h"
#include "vardel/alerts/severity_picture.h"
#include "vardel/store/program_env.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <set>

namespace {

// Made once and never destroyed: Qt's input devices must not outlive it at exit.
QApplication& app() {
    static int argc = 1;
    static char name[] = "notify_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

struct CountRecorder : AlertCounter {
    void AdjustAlertCount(const std::string& name, int code) override { adjusted.emplace_back(name, code); }
    void ResetAlertCounts() override { ++resets; }
    std::vector<std::pair<std::string, int>> adjusted;
    int resets = 0;
};

enum Ctl {
    kClearAlert = 1,
    kServerNameEdit = 1023,
    kAdvice = 1031,
    kPrint = 1032,
    kLaunch = 1033,
    kPrev = 1034,
    kNext = 1035,
    kClearAll = 1036,
    kIndexLabel = 1038,
    kDescriptionEdit = 1039,
    kDateTimeEdit = 1040,
    kTotalLabel = 1041,
    kAlertTextEdit = 1042,
    kCountLabel = 1083,
    kAcknowledge = 1310,
    kAcknowledgedLabel = 1311,
};

class NotifyWindowTest : public ::testing::Test {
protected:
    NotifyWindowTest() {
        app();
        settings.managementServerName = "ms.example";
        settings.browserPath = "firefox";
        settings.logPath = dir.file("VDLog.txt");
    }

    // Stores an alert as the arrival does and returns its sequence.
    int add(const std::string& server, const std::string& text = "Fan failed", std::int16_t severity = 148,
            int launchAllowed = 1) {
        auto r = std::make_unique<AlertRecord>();
        r->dateTime = "March 05, 2001, 14:07:33";
        r->serverName = server;
        r->description = "Description of " + server;
        r->alertText = text;
        r->severity = severity;
        r->launchAllowed = launchAllowed;
        r->helpFile = dir.file("acme.hlp");
        r->helpId = 42;
        store.count += 1;
        r->sequence = store.count;
        r->alertId = static_cast<std::uint64_t>(store.count);
        store.alerts.push_front(std::move(r));
        return store.count;
    }
    CNotifyWindow& window() {
        if (!m_window) {
            NotifyWindowContext ctx{store, settings, counter, {}, {}, {}};
            ctx.openServerPage = [this](const std::string& name) { launched.push_back(name); };
            ctx.openHelp = [this](QWidget*, const std::string& file, unsigned long id) {
                helpCalls.emplace_back(file, id);
                return 0;
            };
            ctx.choosePrinter = [this](QPrinter& printer, QWidget*) { return choosePrinter(printer); };
            m_window = std::make_unique<CNotifyWindow>(ctx);
        }
        return *m_window;
    }
    template <typename T = QWidget> T* ctl(int id) {
        T* w = testsupport::control<T>(&window(), id);
        EXPECT_NE(w, nullptr) << "control " << id;
        return w;
    }
    QString text(int id) {
        if (auto* label = testsupport::control<QLabel>(&window(), id))
            return label->text();
        if (auto* line = testsupport::control<QLineEdit>(&window(), id))
            return line->text();
        return ctl<QPlainTextEdit>(id)->toPlainText();
    }
    void click(int id) { QTest::mouseClick(ctl(id), Qt::LeftButton); }
    bool enabled(int id) { return ctl(id)->isEnabled(); }
    QWidget* focus() { return window().focusWidget(); }
    // The native window's own flag.
    bool onTop() { return window().windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint); }

    std::function<bool(QPrinter&)> choosePrinter = [](QPrinter&) { return false; };
    testsupport::TempDir dir;
    SilentAnnouncer silent;
    AlertStore store{&silent};
    ConsoleSettings settings;
    CountRecorder counter;
    std::vector<std::string> launched;
    std::vector<std::pair<std::string, unsigned long>> helpCalls;
    msgbox::ScopedScript boxes;

private:
    std::unique_ptr<CNotifyWindow> m_window;
};

TEST_F(NotifyWindowTest, StartsHiddenWithItsTitle) {
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(window().windowTitle(), "Orv Corvanta Vardel Notify Window");
    EXPECT_TRUE(window().windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
}

TEST_F(NotifyWindowTest, OneAlertShowsOnTopWithFocusOnClearAll) {
    add("SRV1");
    window().ShowAlert(1);
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(onTop());
    EXPECT_EQ(text(kIndexLabel), "1");
    EXPECT_EQ(text(kTotalLabel), "1");
    EXPECT_EQ(text(kCountLabel), "1");
    EXPECT_EQ(text(kServerNameEdit), "SRV1");
    EXPECT_EQ(text(kDateTimeEdit), "March 05, 2001, 14:07:33");
    EXPECT_EQ(text(kDescriptionEdit), "Description of SRV1");
    EXPECT_EQ(text(kAlertTextEdit), "Fan failed");
    EXPECT_FALSE(enabled(kPrev));
    EXPECT_FALSE(enabled(kNext));
    EXPECT_TRUE(enabled(kAdvice));
    EXPECT_TRUE(enabled(kLaunch));
    EXPECT_EQ(focus(), ctl(kClearAll));

    click(kClearAlert);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(store.count, 0);
    EXPECT_TRUE(store.alerts.empty());
    EXPECT_EQ(counter.adjusted, (std::vector<std::pair<std::string, int>>{{"SRV1", kAlertCountRemove}}));
}

TEST_F(NotifyWindowTest, NavigationEnablesAndFocusesByPosition) {
    add("SRV1");
    add("SRV2");
    add("SRV3");
    window().ShowAlert(3);
    EXPECT_EQ(text(kIndexLabel), "3");
    EXPECT_EQ(text(kTotalLabel), "3");
    EXPECT_FALSE(enabled(kNext));
    EXPECT_TRUE(enabled(kPrev));
    EXPECT_EQ(focus(), ctl(kPrev));

    click(kPrev);
    EXPECT_EQ(text(kServerNameEdit), "SRV2");
    EXPECT_TRUE(enabled(kNext));
    EXPECT_TRUE(enabled(kPrev));
    EXPECT_EQ(focus(), ctl(kPrev)); // the middle keeps the focus where it was

    click(kPrev);
    EXPECT_EQ(text(kIndexLabel), "1");
    EXPECT_FALSE(enabled(kPrev));
    EXPECT_EQ(focus(), ctl(kNext));

    click(kNext);
    click(kNext);
    EXPECT_EQ(text(kServerNameEdit), "SRV3");
}

TEST_F(NotifyWindowTest, LastRemainingAlertMovesTheFocusToClearAll) {
    add("SRV1");
    add("SRV2");
    window().ShowAlert(2);
    ASSERT_EQ(focus(), ctl(kPrev));
    store.RemoveAlert(2);
    window().ShowAlert(1);
    EXPECT_EQ(focus(), ctl(kClearAll));
}

TEST_F(NotifyWindowTest, ClearingTheMiddleAlertShowsItsOlderNeighbour) {
    add("SRV1");
    add("SRV2");
    add("SRV3");
    window().ShowAlert(2);
    click(kClearAlert);
    EXPECT_EQ(store.count, 2);
    EXPECT_EQ(store.findBySequence(1)->serverName, "SRV1");
    EXPECT_EQ(store.findBySequence(2)->serverName, "SRV3");
    EXPECT_EQ(text(kIndexLabel), "1");
    EXPECT_EQ(text(kTotalLabel), "2");
    EXPECT_EQ(text(kServerNameEdit), "SRV1");
    EXPECT_EQ(focus(), ctl(kClearAlert));
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(counter.adjusted, (std::vector<std::pair<std::string, int>>{{"SRV2", kAlertCountRemove}}));
}

// Acknowledge keeps the alert, takes it off its server's count once and logs
// who did it; clearing it later takes nothing more off.
TEST_F(NotifyWindowTest, AcknowledgeKeepsTheAlertAndCountsItOnce) {
    add("SRV1");
    add("SRV2");
    window().ShowAlert(1);
    EXPECT_TRUE(enabled(kAcknowledge));
    EXPECT_EQ(text(kAcknowledgedLabel), "");
    click(kAcknowledge);
    EXPECT_FALSE(enabled(kAcknowledge));
    EXPECT_EQ(store.count, 2);
    EXPECT_TRUE(store.findBySequence(1)->acknowledged);
    const QString user = QString::fromStdString(CurrentUserName());
    EXPECT_TRUE(text(kAcknowledgedLabel).startsWith("Acknowledged by " + user + ", "))
        << text(kAcknowledgedLabel).toStdString();
    EXPECT_NE(testsupport::readFile(settings.logPath).find("Acknowledged By:" + user.toStdString()),
              std::string::npos);
    window().ShowAlert(2);
    EXPECT_TRUE(enabled(kAcknowledge));
    EXPECT_EQ(text(kAcknowledgedLabel), "");
    window().ShowAlert(1);
    click(kClearAlert);
    EXPECT_EQ(counter.adjusted, (std::vector<std::pair<std::string, int>>{{"SRV1", kAlertCountRemove}}));
}

TEST_F(NotifyWindowTest, ClearingTheOldestShowsTheNewNumberOne) {
    add("SRV1");
    add("SRV2");
    add("SRV3");
    window().ShowAlert(1);
    click(kClearAlert);
    EXPECT_EQ(text(kIndexLabel), "1");
    EXPECT_EQ(text(kServerNameEdit), "SRV2");
    EXPECT_EQ(store.findBySequence(2)->serverName, "SRV3");
}

TEST_F(NotifyWindowTest, AlertMissingFromTheStoreKeepsTheFields) {
    add("SRV1");
    window().ShowAlert(1);
    window().ShowAlert(5);
    EXPECT_EQ(text(kIndexLabel), "5");
    EXPECT_EQ(text(kServerNameEdit), "SRV1");
}

TEST_F(NotifyWindowTest, ShowingAgainRestoresAMinimizedWindow) {
    add("SRV1");
    window().ShowAlert(1);
    window().showMinimized();
    add("SRV2");
    window().ShowAlert(2);
    EXPECT_FALSE(window().isMinimized());
    EXPECT_TRUE(window().isVisible());
}

TEST_F(NotifyWindowTest, AdviceNeedsAKnownAlertAndOpensItsHelp) {
    add("SRV1", "UNKNOWN Alert");
    add("SRV2");
    window().ShowAlert(1);
    EXPECT_FALSE(enabled(kAdvice));
    window().ShowAlert(2);
    EXPECT_TRUE(enabled(kAdvice));
    window().move(200, 150);
    click(kAdvice);
    EXPECT_EQ(helpCalls, (std::vector<std::pair<std::string, unsigned long>>{{dir.file("acme.hlp"), 42}}));
    EXPECT_TRUE(onTop());
    EXPECT_EQ(window().pos(), QPoint(200, 150));
    EXPECT_TRUE(window().isVisible());

    // An alert whose definition names no help file opens the console's help.
    settings.programDirectory = dir.path();
    testsupport::writeFile(dir.file("Vardel.html"), "<html></html>\n");
    std::vector<std::string> opened;
    help::setLauncher([&](const std::string& uri) {
        opened.push_back(uri);
        return true;
    });
    store.findBySequence(2)->helpFile = dir.path();
    click(kAdvice);
    help::setLauncher({});
    EXPECT_EQ(opened, std::vector<std::string>{"file://" + dir.path() + "Vardel.html"});
    EXPECT_EQ(helpCalls.size(), 1u);
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST_F(NotifyWindowTest, LaunchFollowsTheAlertAndTheManagementServer) {
    add("SRV1", "Agent down", 146, /*launchAllowed*/ 0);
    add("SRV 2&x", "Agent up", 150, 1);
    window().ShowAlert(1);
    EXPECT_FALSE(enabled(kLaunch));
    window().ShowAlert(2);
    EXPECT_TRUE(enabled(kLaunch));
    click(kLaunch);
    EXPECT_EQ(launched, std::vector<std::string>{"SRV 2&x"});
    EXPECT_FALSE(onTop());
    EXPECT_EQ(window().pos(), QPoint(0, 0));

    settings.managementServerName.clear();
    window().ShowAlert(2);
    EXPECT_FALSE(enabled(kLaunch));
}

TEST_F(NotifyWindowTest, LaunchStaysDisabledWithoutABrowser) {
    settings.browserPath.clear();
    EXPECT_FALSE(enabled(kLaunch));
    add("SRV1", "Agent up", 150, 1);
    window().ShowAlert(1);
    EXPECT_FALSE(enabled(kLaunch));
}

TEST_F(NotifyWindowTest, DroppingAndRestoringTopmostKeepsTheNativeWindow) {
    add("SRV1");
    window().ShowAlert(1);
    const WId id = window().winId();
    window().move(120, 80);
    const QPoint placed = window().pos();
    click(kAdvice);
    EXPECT_TRUE(onTop());
    EXPECT_EQ(window().pos(), placed);
    click(kLaunch);
    EXPECT_FALSE(onTop());
    add("SRV2");
    window().ShowAlert(2);
    EXPECT_TRUE(onTop());
    EXPECT_EQ(window().winId(), id);
}

TEST_F(NotifyWindowTest, F1OpensTheProgramHelp) {
    settings.programDirectory = dir.path();
    testsupport::writeFile(dir.file("Vardel.html"), "<html></html>\n");
    std::vector<std::string> opened;
    help::setLauncher([&](const std::string& uri) {
        opened.push_back(uri);
        return true;
    });
    add("SRV1");
    window().ShowAlert(1);
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    QTest::keyClick(ctl(kDescriptionEdit), Qt::Key_F1);
    help::setLauncher({});
    EXPECT_EQ(opened, std::vector<std::string>{"file://" + dir.path() + "Vardel.html"});
}

TEST_F(NotifyWindowTest, ClearAllAnsweredNoKeepsEveryAlert) {
    add("SRV1");
    add("SRV2");
    window().ShowAlert(2);
    boxes.script.answers = {msgbox::IDNO, msgbox::IDNO, msgbox::IDNO};
    click(kClearAll);
    QTest::keyClick(&window(), Qt::Key_Escape);
    window().close();
    ASSERT_EQ(boxes.script.shown.size(), 3u);
    for (const msgbox::Box& box : boxes.script.shown) {
        EXPECT_EQ(box.text, "Are you sure you want to clear all the Events?");
        EXPECT_EQ(box.caption, "Orv Corvanta Vardel 5.5");
        EXPECT_EQ(box.buttons, msgbox::Buttons::YesNo);
        EXPECT_EQ(box.icon, msgbox::Icon::Warning);
        EXPECT_EQ(box.defaultButton, 1); // No
    }
    EXPECT_EQ(store.count, 2);
    EXPECT_EQ(store.alerts.size(), 2u);
    EXPECT_EQ(counter.resets, 0);
    EXPECT_TRUE(window().isVisible());
}

TEST_F(NotifyWindowTest, ClearAllAnsweredYesEmptiesTheStore) {
    add("SRV1");
    add("SRV2");
    window().ShowAlert(2);
    window().ShowCeilingReached(2);
    EXPECT_TRUE(window().ceilingNoticeShown());
    boxes.script.answers = {msgbox::IDYES};
    QTest::keyClick(&window(), Qt::Key_Escape);
    EXPECT_EQ(store.count, 0);
    EXPECT_TRUE(store.alerts.empty());
    EXPECT_EQ(counter.resets, 1);
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(window().ceilingNoticeShown()) << "nothing was dropped from an empty store";

    // The next alert brings the window back.
    add("SRV3");
    window().ShowAlert(1);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(text(kTotalLabel), "1");
}

TEST_F(NotifyWindowTest, SeverityColoursTheEditsAndPicksThePicture) {
    add("SRV1", "down", 146);
    add("SRV2", "fine", 150);
    add("SRV3", "odd", 0);
    const int edits[] = {kDescriptionEdit, kDateTimeEdit, kServerNameEdit, kAlertTextEdit};
    const std::pair<int, QColor> cases[] = {
        {1, QColor(210, 0, 0)}, {2, QColor(0, 120, 0)}, {3, QColor(0, 0, 0)}};
    for (const auto& [n, colour] : cases) {
        window().ShowAlert(n);
        for (int id : edits)
            EXPECT_EQ(ctl(id)->palette().color(QPalette::Text), colour) << n << " " << id;
    }

    // Lamp centres of the 50x150 picture drawn at (7,39): top (25,27), bottom (25,123).
    window().ShowAlert(1);
    QImage shot = window().grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(7 + 25, 39 + 27)), QColor(255, 0, 0));
    window().ShowAlert(2);
    shot = window().grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(7 + 25, 39 + 123)), QColor(0, 255, 0));
    EXPECT_NE(QColor(shot.pixel(7 + 25, 39 + 27)), QColor(255, 0, 0));
    window().ShowAlert(3);
    shot = window().grab().toImage();
    EXPECT_NE(QColor(shot.pixel(7 + 25, 39 + 123)), QColor(0, 255, 0));
}

TEST_F(NotifyWindowTest, EverySeverityReadsAtFourAndAHalfToOneOnOneBackground) {
    for (std::int16_t severity : {146, 148, 149, 150, 0})
        add("SRV1", "text", severity);
    const QPalette platform = QApplication::palette();
    QPalette dark = platform;
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    for (const QPalette& palette : {platform, dark}) {
        QApplication::setPalette(palette);
        CNotifyWindow shown(NotifyWindowContext{store, settings, counter, {}, {}, {}});
        std::set<QRgb> backgrounds;
        for (int n = 1; n <= store.count; ++n) {
            shown.ShowAlert(n);
            for (int id : {kDescriptionEdit, kDateTimeEdit, kServerNameEdit, kAlertTextEdit}) {
                const QPalette p = testsupport::control<QWidget>(&shown, id)->palette();
                backgrounds.insert(p.color(QPalette::Base).rgb());
                EXPECT_GE(ContrastRatio(p.color(QPalette::Text), p.color(QPalette::Base)), 4.5)
                    << shown.currentSeverity() << " " << id;
            }
        }
        EXPECT_EQ(backgrounds.size(), 1u);
    }
    QApplication::setPalette(platform);
    // Reference values of the contrast formula.
    EXPECT_NEAR(ContrastRatio(Qt::black, Qt::white), 21.0, 1e-9);
    EXPECT_NEAR(ContrastRatio(QColor(255, 255, 0), Qt::white), 1.07, 0.005);
    EXPECT_NEAR(ContrastRatio(QColor(0, 157, 0), QColor(239, 239, 239)), 3.14, 0.005);
}

// The first row of rect holding a pixel far from the colour of its top-left corner.
int firstInkRow(const QImage& image, const QRect& rect) {
    const QColor bg = image.pixelColor(rect.topLeft());
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - bg.red()) + std::abs(c.green() - bg.green()) +
                    std::abs(c.blue() - bg.blue()) >
                150)
                return y;
        }
    return -1;
}

TEST_F(NotifyWindowTest, TextsShareTheirLinesAndFocusShowsInEveryField) {
    add("SRV1");
    window().ShowAlert(1);
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    ctl(kClearAlert)->setFocus();
    const QImage shot = window().grab().toImage();
    const auto row = [&](const char* name) {
        return firstInkRow(shot, window().findChild<QWidget*>(name)->geometry());
    };
    const auto fieldRow = [&](int id) {
        return firstInkRow(shot, ctl(id)->geometry().adjusted(4, 4, -4, -4));
    };
    EXPECT_NEAR(row("alertCountLabel"), row("totalTextLabel"), 1);
    EXPECT_NEAR(row("descriptionLabel"), fieldRow(kDescriptionEdit), 1);
    EXPECT_NEAR(row("dateTimeLabel"), fieldRow(kDateTimeEdit), 1);
    EXPECT_NEAR(row("serverNameLabel"), fieldRow(kServerNameEdit), 1);
    EXPECT_NEAR(row("alertStringLabel"), fieldRow(kAlertTextEdit), 1);

    // Focus changes the frame around each read-only field.
    for (int id : {kDescriptionEdit, kDateTimeEdit, kServerNameEdit, kAlertTextEdit}) {
        ctl(id)->setFocus();
        const QImage focused = window().grab().toImage();
        const QRect outer = ctl(id)->geometry().adjusted(-3, -3, 3, 3);
        const QRect inner = ctl(id)->geometry().adjusted(3, 3, -3, -3);
        bool changed = false;
        for (int y = outer.top(); y <= outer.bottom(); ++y)
            for (int x = outer.left(); x <= outer.right(); ++x)
                if (!inner.contains(x, y) && focused.pixel(x, y) != shot.pixel(x, y))
                    changed = true;
        EXPECT_TRUE(changed) << id;
    }
}

TEST_F(NotifyWindowTest, LogTakesTheSeverityOnDisplay) {
    add("SRV1", "down", 146);
    window().ShowAlert(1);
    EXPECT_EQ(window().AppendToLog(settings.logPath, 1), 1);
    EXPECT_NE(testsupport::readFile(settings.logPath).find("Severity:Critical\r\n"), std::string::npos);
}

// One word of pdftotext -bbox, in points from the page's top-left corner.
struct PdfWord {
    double x = 0;
    double y = 0;
    QString text;
};

std::vector<PdfWord> pdfWords(const QString& pdf) {
    QProcess p;
    p.start("pdftotext", {"-bbox", pdf, "-"});
    EXPECT_TRUE(p.waitForFinished(30000));
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    std::vector<PdfWord> words;
    static const QRegularExpression re(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="[\d.]+">([^<]*)</word>)re");
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.push_back({m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3)});
    }
    return words;
}

TEST_F(NotifyWindowTest, PrintPutsEachTextAtItsDeviceUnits) {
    add("SRV1");
    AlertRecord& r = *store.alerts.front();
    r.description = "D1" + std::string(63, 'x') + "D2" + std::string(63, 'y'); // 130 characters
    r.alertText = "ALERTTEXT";
    window().ShowAlert(1);

    const QString pdf = QString::fromStdString(dir.file("alert.pdf"));
    constexpr int kDpi = 600;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setResolution(kDpi);
    ASSERT_TRUE(window().PrintAlertTo(printer));

    // The painter's origin is the printable area's corner.
    const QRectF area = printer.pageLayout().paintRectPoints();
    const auto pt = [&](int units) { return units * 72.0 / kDpi; };
    const std::pair<QString, QPoint> expected[] = {
        {"Orv", {1500, 100}},
        {"Server", {100, 300}},
        {"SRV1", {100, 400}},
        {"Date", {100, 600}},
        {"March", {100, 700}},
        {"Description", {100, 900}},
        {"D1" + QString(63, 'x'), {100, 1000}},
        {"D2" + QString(63, 'y'), {100, 1100}},
        {"Alert", {100, 1300}},
        {"ALERTTEXT", {100, 1400}},
    };
    const std::vector<PdfWord> words = pdfWords(pdf);
    double lastY = -1;
    for (const auto& entry : expected) {
        const QString& word = entry.first;
        const QPoint& at = entry.second;
        auto it = std::find_if(words.begin(), words.end(), [&](const PdfWord& w) { return w.text == word; });
        ASSERT_NE(it, words.end()) << word.toStdString();
        EXPECT_NEAR(it->x, area.left() + pt(at.x()), 2.0) << word.toStdString();
        EXPECT_NEAR(it->y, area.top() + pt(at.y()), 3.0) << word.toStdString();
        EXPECT_GT(it->y, lastY) << word.toStdString();
        lastY = it->y;
    }

    QProcess info;
    info.start("pdfinfo", {pdf});
    ASSERT_TRUE(info.waitForFinished(30000));
    EXPECT_TRUE(
        QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Title:\\s+test\\n")));
}

TEST_F(NotifyWindowTest, PrintButtonPrintsOnlyWhenThePrinterIsChosen) {
    add("SRV1");
    window().ShowAlert(1);
    const std::string pdf = dir.file("button.pdf");
    bool accept = false;
    QRectF area;
    choosePrinter = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        area = printer.pageLayout().paintRectPoints();
        return accept;
    };
    click(kPrint);
    EXPECT_TRUE(testsupport::readFile(pdf).empty());
    accept = true;
    click(kPrint);
    ASSERT_EQ(testsupport::readFile(pdf).rfind("%PDF", 0), 0u);
    // A PDF file is laid out in the units of a 600 dpi printer.
    const std::vector<PdfWord> words = pdfWords(QString::fromStdString(pdf));
    auto heading = std::find_if(words.begin(), words.end(), [](const PdfWord& w) { return w.text == "Orv"; });
    ASSERT_NE(heading, words.end());
    EXPECT_NEAR(heading->x, area.left() + 1500 * 72.0 / 600, 2.0);
}

TEST_F(NotifyWindowTest, PrintPrintsTheAlertOnDisplayWhenPrintWasPressed) {
    add("SRV1");
    window().ShowAlert(1);
    const std::string pdf = dir.file("pressed.pdf");
    choosePrinter = [&](QPrinter& printer) {
        // A trap arrives while the print dialog is open.
        window().ShowAlert(add("SRV2"));
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    };
    click(kPrint);
    const std::vector<PdfWord> words = pdfWords(QString::fromStdString(pdf));
    const auto has = [&](const char* text) {
        return std::any_of(words.begin(), words.end(), [&](const PdfWord& w) { return w.text == text; });
    };
    EXPECT_TRUE(has("SRV1"));
    EXPECT_FALSE(has("SRV2"));
}

} // namespace

TEST_F(NotifyWindowTest, ADeferredBurstShowsItsLastAlertOnTopOnce) {
    add("SRV1", "first", 146);
    window().deferDisplay(true);
    add("SRV2", "second", 149);
    window().ShowAlert(2);
    add("SRV3", "third", 150);
    window().ShowAlert(3);
    // Labels, buttons and severity follow each alert at once ...
    EXPECT_EQ(text(kIndexLabel), "3");
    EXPECT_EQ(window().currentSeverity(), 150);
    EXPECT_FALSE(enabled(kNext));
    // ... the edits and the window wait for the end of the burst, which then
    // brings up its last alert.
    EXPECT_EQ(text(kServerNameEdit), "");
    EXPECT_FALSE(window().isVisible());
    window().deferDisplay(false);
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(onTop());
    EXPECT_EQ(text(kServerNameEdit), "SRV3");
    EXPECT_EQ(text(kAlertTextEdit), "third");
    EXPECT_EQ(text(kDescriptionEdit), "Description of SRV3");
}

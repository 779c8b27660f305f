#pragma once
// The alert notify window (dialog 144): shows one outstanding alert at a
// time, pages through them, clears them, prints one, opens its help topic or
// its server's management page.

#include "vardel/alerts/alert_arrival.h"
#include "vardel/alerts/alert_store.h"
#include "vardel/store/console_settings.h"

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QPrinter;
namespace Ui {
class CNotifyWindow;
}

struct NotifyWindowContext {
    AlertStore& store;
    // managementServerName (Launch), browserPath (Launch offered at all).
    const ConsoleSettings& settings;
    AlertCounter& counter;
    // Opens the server's management page: OpenServerPage(settings, name).
    std::function<void(const std::string& serverName)> openServerPage;
    // Opens helpFile at contextId; empty: the desktop help viewer.
    std::function<int(QWidget* owner, const std::string& helpFile, unsigned long contextId)> openHelp;
    // Lets the operator choose and set up the printer; false when cancelled.
    // Empty: the print dialog.
    std::function<bool(QPrinter& printer, QWidget* owner)> choosePrinter;
};

class CNotifyWindow : public QDialog, public AlertDisplay {
    Q_OBJECT

public:
    // Created hidden. The parent owns the window's object; the window itself is
    // a top level of its own, so that a box of the parent never blocks it.
    explicit CNotifyWindow(NotifyWindowContext context, QWidget* parent = nullptr);
    ~CNotifyWindow() override;

    // Fills the window with alert n and brings it up on top of all windows.
    // Returns 1.
    int ShowAlert(int sequence) override;
    // The totals follow a new alert that does not pop up.
    void ShowAlertQuietly(int sequence) override;
    // Makes the window topmost without moving it and shows it in its normal
    // state (the main window's Restore while alerts are outstanding).
    void ShowOnTop();
    // Appends the block of alert n to the log, with the severity on display.
    int AppendToLog(const std::string& logPath, int sequence) override;
    // Says, until the store is empty again, that its oldest alerts were dropped
    // from memory for the ceiling.
    void ShowCeilingReached(std::int32_t ceiling) override;
    bool ceilingNoticeShown() const;

    // Prints the summary of the alert on display on an already set-up printer
    // (document "test"). False when nothing was printed.
    bool PrintAlertTo(QPrinter& printer);

    // Whether the window is topmost (its native window's flag).
    bool isTopmost() const;

    // While deferred, ShowAlert sets labels, buttons, focus and severity at
    // once but keeps the texts of the alert it shows; when deferral ends they
    // go into the edits and the window comes up on top, once: a burst of
    // alerts lays out and raises its last alert alone.
    void deferDisplay(bool defer);

    // What "Define..." (shown for an unclassified trap alert) does with the
    // alert's enterprise and trap key: open the import of definitions for
    // it. Without a handler it says where to import them.
    using DefineHandler = std::function<void(const std::string& enterprise, const std::string& trapKey)>;
    void setDefineHandler(DefineHandler handler) { m_defineHandler = std::move(handler); }

    // After alerts left the store elsewhere: hidden when none is left; else,
    // when shown, it shows stillShown again, or the alert now at its number.
    void FollowStore(const AlertRecord* stillShown);
    // Acknowledges the alert on display for the console's user (button 1310).
    void OnAcknowledge();
    // Brings the acknowledgement of the alert on display up to date (button
    // 1310 and its line), after an acknowledgement made elsewhere.
    void ShowAcknowledgement();

    // The index of the alert on display, read back from label 1038.
    int currentIndex() const;
    std::int16_t currentSeverity() const { return m_currentSeverity; }

public slots:
    void accept() override; // Clear Alert
    void reject() override; // Clear All, also Esc and the close box

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void onNext();
    void onPrev();
    void onClearAlert();
    void onClearAll();
    void onAdvice();
    void onDefine();
    void onLaunch();
    void onPrint();
    void onHelpKey();
    void alignCaptions();
    void dropTopmostToCorner();
    // Sets or drops the topmost state on the existing native window.
    void setTopmost(bool topmost);
    bool printAlert(const AlertRecord& alert, QPrinter& printer);
    void applySeverityColours();
    void finish();

    std::unique_ptr<Ui::CNotifyWindow> m_ui;
    NotifyWindowContext m_ctx;
    std::int16_t m_currentSeverity = 0;
    QColor m_readOnlyBackground;
    class QFocusFrame* m_focusFrame = nullptr;
    void applyTexts();

    DefineHandler m_defineHandler;
    bool m_deferDisplay = false;
    bool m_displayPending = false;
    QString m_pendingDateTime, m_pendingAlertText, m_pendingServerName, m_pendingDescription;
};

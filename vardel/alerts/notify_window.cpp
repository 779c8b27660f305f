#include "vardel/alerts/notify_window.h"

#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "ui_notify.h"
#include "vardel/alerts/alert_log.h"
#include "vardel/alerts/print_layout.h"
#include "vardel/alerts/severity_picture.h"
#include "vardel/alerts/wait_box.h"
#include "vardel/resources/qt_text.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/program_env.h"

#include <QFocusFrame>
#include <QKeySequence>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QShortcut>
#include <QWindow>

namespace {

constexpr int kPdfResolution = 600;

bool runPrintDialog(QPrinter& printer, QWidget* owner) {
    QPrintDialog dialog(&printer, owner);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinMax(1, 1);
    dialog.setFromTo(1, 1);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace

CNotifyWindow::CNotifyWindow(NotifyWindowContext context, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CNotifyWindow>()), m_ctx(std::move(context)) {
    m_ui->setupUi(this);
    // Alerts can be worked while the main window waits on the network.
    setProperty(kRespondsWhileWaiting, true);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(false);
    if (m_ctx.settings.browserPath.empty())
        m_ui->launchButton->setEnabled(false);

    // The fields sit on the background the platform gives read-only edits,
    // or on white where a severity's colour would not read on it.
    m_readOnlyBackground = palette().color(QPalette::Window);
    // Read-only texts still take the keyboard focus and show its caret.
    for (QPlainTextEdit* edit : {m_ui->descriptionEdit, m_ui->alertTextEdit})
        edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    applySeverityColours();
    alignCaptions();
    // Focus shows in every control: the multi-line fields take a focus frame
    // (buttons and single-line fields draw their own).
    m_focusFrame = new QFocusFrame(this);
    for (QPlainTextEdit* edit : {m_ui->descriptionEdit, m_ui->alertTextEdit})
        edit->installEventFilter(this);

    auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(helpKey, &QShortcut::activated, this, &CNotifyWindow::onHelpKey);

    connect(m_ui->nextButton, &QPushButton::clicked, this, &CNotifyWindow::onNext);
    connect(m_ui->prevButton, &QPushButton::clicked, this, &CNotifyWindow::onPrev);
    connect(m_ui->clearAlertButton, &QPushButton::clicked, this, &CNotifyWindow::onClearAlert);
    connect(m_ui->clearAllButton, &QPushButton::clicked, this, &CNotifyWindow::onClearAll);
    connect(m_ui->adviceButton, &QPushButton::clicked, this, &CNotifyWindow::onAdvice);
    connect(m_ui->defineButton, &QPushButton::clicked, this, &CNotifyWindow::onDefine);
    connect(m_ui->launchButton, &QPushButton::clicked, this, &CNotifyWindow::onLaunch);
    connect(m_ui->printButton, &QPushButton::clicked, this, &CNotifyWindow::onPrint);
    connect(m_ui->acknowledgeButton, &QPushButton::clicked, this, &CNotifyWindow::OnAcknowledge);
}

CNotifyWindow::~CNotifyWindow() = default;

void CNotifyWindow::alignCaptions() {
    // Static texts draw from the top of their rectangles; a caption's line is
    // level with the first line of its field's text.
    const QFontMetrics metrics(font());
    const auto lineTop = [&](QLineEdit* edit) {
        return edit->y() + (edit->height() - metrics.height() + 1) / 2;
    };
    const auto textTop = [](QPlainTextEdit* edit) {
        return edit->y() + edit->frameWidth() + static_cast<int>(edit->document()->documentMargin());
    };
    m_ui->descriptionLabel->move(m_ui->descriptionLabel->x(), textTop(m_ui->descriptionEdit));
    m_ui->dateTimeLabel->move(m_ui->dateTimeLabel->x(), lineTop(m_ui->dateTimeEdit));
    m_ui->serverNameLabel->move(m_ui->serverNameLabel->x(), lineTop(m_ui->serverNameEdit));
    m_ui->alertStringLabel->move(m_ui->alertStringLabel->x(), textTop(m_ui->alertTextEdit));
}

bool CNotifyWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn)
        m_focusFrame->setWidget(static_cast<QWidget*>(watched));
    else if (event->type() == QEvent::FocusOut && m_focusFrame->widget() == watched)
        m_focusFrame->setWidget(nullptr);
    return QDialog::eventFilter(watched, event);
}

int CNotifyWindow::currentIndex() const {
    return m_ui->alertIndexLabel->text().toInt();
}

int CNotifyWindow::ShowAlert(int n) {
    const AlertStore& store = m_ctx.store;
    // Launch needs a management server, and a browser found at start-up.
    const bool launchOffered =
        !m_ctx.settings.managementServerName.empty() && !m_ctx.settings.browserPath.empty();
    m_ui->launchButton->setEnabled(launchOffered);

    const QString total = QString::number(store.count);
    m_ui->alertTotalLabel->setText(total);
    m_ui->alertCountLabel->setText(total);
    m_ui->alertIndexLabel->setText(QString::number(n));

    const AlertRecord* alert = store.findBySequence(n);
    if (!alert)
        return 1;

    m_pendingDateTime = toQt(alert->dateTime);
    m_pendingAlertText = toQt(alert->alertText);
    m_pendingServerName = toQt(alert->serverName);
    m_pendingDescription = toQt(alert->description);
    m_displayPending = true;
    if (!m_deferDisplay)
        applyTexts();

    m_ui->adviceButton->setEnabled(alert->alertText != LoadString(IDS_UNKNOWN_ALERT));
    // Only a trap that no definition classified ("Show unclassified traps");
    // never a state-change alert, whatever its severity.
    m_ui->defineButton->setVisible(alert->origin == kOriginTrap &&
                                   alert->reception == kReceptionUnclassified);

    ShowAcknowledgement();

    m_ui->nextButton->setEnabled(n != store.count);
    m_ui->prevButton->setEnabled(n != 1);
    QWidget* focus = nullptr;
    if (n == 1 && store.count == 1)
        focus = m_ui->clearAllButton;
    else if (n == store.count)
        focus = m_ui->prevButton;
    else if (n == 1)
        focus = m_ui->nextButton;

    m_ui->launchButton->setEnabled(alert->launchAllowed != 0 && launchOffered);

    m_currentSeverity = alert->severity;
    applySeverityColours();
    update();

    if (!m_deferDisplay)
        ShowOnTop();
    if (focus)
        focus->setFocus(Qt::OtherFocusReason);
    return 1;
}

void CNotifyWindow::ShowAlertQuietly(int /*sequence*/) {
    const QString total = QString::number(m_ctx.store.count);
    m_ui->alertTotalLabel->setText(total);
    m_ui->alertCountLabel->setText(total);
    const int shown = currentIndex();
    m_ui->nextButton->setEnabled(shown >= 1 && shown < m_ctx.store.count);
}

void CNotifyWindow::ShowAcknowledgement() {
    const AlertRecord* alert = m_ctx.store.findBySequence(currentIndex());
    const bool acknowledged = alert && alert->acknowledged;
    m_ui->acknowledgeButton->setEnabled(alert && !acknowledged);
    m_ui->acknowledgedLabel->setText(
        acknowledged ? toQt(FormatString(IDS_ACKNOWLEDGED_BY, {alert->acknowledgedBy, alert->acknowledgedAt}))
                     : QString());
}

void CNotifyWindow::OnAcknowledge() {
    const AlertRecord* alert = m_ctx.store.findBySequence(currentIndex());
    if (!alert)
        return;
    AcknowledgeAlert(m_ctx.store, m_ctx.counter, m_ctx.settings.logPath, alert->alertId, CurrentUserName());
    ShowAcknowledgement();
    if (m_ui->nextButton->isEnabled())
        m_ui->nextButton->setFocus(Qt::OtherFocusReason);
}

void CNotifyWindow::deferDisplay(bool defer) {
    m_deferDisplay = defer;
    if (defer || !m_displayPending)
        return;
    applyTexts();
    ShowOnTop();
}

void CNotifyWindow::applyTexts() {
    m_displayPending = false;
    m_ui->dateTimeEdit->setText(m_pendingDateTime);
    m_ui->alertTextEdit->setPlainText(m_pendingAlertText);
    m_ui->serverNameEdit->setText(m_pendingServerName);
    m_ui->descriptionEdit->setPlainText(m_pendingDescription);
}

void CNotifyWindow::ShowOnTop() {
    // Topmost without moving or resizing; showNormal also restores a
    // minimized window.
    setTopmost(true);
    showNormal();
    raise();
    activateWindow();
}

bool CNotifyWindow::isTopmost() const {
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void CNotifyWindow::setTopmost(bool topmost) {
    Qt::WindowFlags flags = windowFlags();
    if (flags.testFlag(Qt::WindowStaysOnTopHint) == topmost)
        return;
    flags.setFlag(Qt::WindowStaysOnTopHint, topmost);
    // setWindowFlags would destroy and recreate the native window (a new
    // window id, flicker); the native window takes the flag in place.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle())
        window->setFlags(flags);
}

void CNotifyWindow::showEvent(QShowEvent* event) {
    // A top level of its own: not transient for the parent, whose boxes are
    // modal to the parent's window alone.
    if (QWindow* window = windowHandle())
        window->setTransientParent(nullptr);
    QDialog::showEvent(event);
}

int CNotifyWindow::AppendToLog(const std::string& logPath, int sequence) {
    return AppendAlertLog(logPath, m_ctx.store, sequence, m_currentSeverity);
}

void CNotifyWindow::ShowCeilingReached(std::int32_t ceiling) {
    m_ui->alertsDroppedLabel->setText(toQt(LoadString(IDS_ALERTS_DROPPED)).arg(ceiling));
    m_ui->alertsDroppedLabel->show();
}

bool CNotifyWindow::ceilingNoticeShown() const {
    return !m_ui->alertsDroppedLabel->isHidden();
}

void CNotifyWindow::applySeverityColours() {
    const QColor colour = SeverityTextColor(m_currentSeverity);
    const QColor background = SeverityFieldBackground(m_readOnlyBackground);
    const QList<QWidget*> edits = {m_ui->descriptionEdit, m_ui->dateTimeEdit, m_ui->serverNameEdit,
                                   m_ui->alertTextEdit};
    for (QWidget* edit : edits) {
        QPalette palette = edit->palette();
        if (palette.color(QPalette::Text) == colour && palette.color(QPalette::Base) == background)
            continue; // a new palette restyles the edit: only on a change
        palette.setColor(QPalette::Text, colour);
        palette.setColor(QPalette::Base, background);
        edit->setPalette(palette);
    }
}

void CNotifyWindow::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    const QPixmap picture = SeverityPicture(m_currentSeverity);
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.setClipRect(7, 39, 54, 200);
    painter.drawPixmap(7, 39, picture);
}

void CNotifyWindow::onNext() {
    ShowAlert(currentIndex() + 1);
}

void CNotifyWindow::onPrev() {
    ShowAlert(currentIndex() - 1);
}

void CNotifyWindow::accept() {
    onClearAlert();
}

void CNotifyWindow::reject() {
    onClearAll();
}

void CNotifyWindow::finish() {
    m_ui->alertsDroppedLabel->hide(); // the store is empty
    QDialog::accept();
}

void CNotifyWindow::onClearAlert() {
    AlertStore& store = m_ctx.store;
    const int shown = currentIndex();
    if (!store.findBySequence(shown))
        return;
    const int next = shown == 1 ? 1 : shown - 1;
    std::unique_ptr<AlertRecord> removed = store.RemoveAlert(shown);
    // An acknowledged alert was taken off its server's count already.
    if (!removed->acknowledged)
        m_ctx.counter.AdjustAlertCount(removed->serverName, kAlertCountRemove);
    removed.reset();
    if (store.count == 0) {
        finish();
        return;
    }
    ShowAlert(next);
    m_ui->clearAlertButton->setFocus(Qt::OtherFocusReason);
}

void CNotifyWindow::FollowStore(const AlertRecord* stillShown) {
    AlertStore& store = m_ctx.store;
    if (store.count == 0) {
        if (isVisible())
            finish();
        else
            m_ui->alertsDroppedLabel->hide();
        return;
    }
    if (!isVisible())
        return;
    const int index = stillShown ? store.sequenceOf(*stillShown) : std::min(currentIndex(), int(store.count));
    const bool deferred = m_deferDisplay;
    // Brought up to date where it is, not raised.
    m_deferDisplay = true;
    ShowAlert(std::max(index, 1));
    m_deferDisplay = deferred;
    if (!deferred && m_displayPending)
        applyTexts();
}

void CNotifyWindow::onClearAll() {
    const msgbox::Answer answer =
        msgbox::show(this, LoadString(IDS_CLEAR_ALL_QUESTION), LoadString(IDS_PRODUCT_TITLE),
                     msgbox::Buttons::YesNo, msgbox::Icon::Warning, /*defaultButton: No*/ 1);
    if (answer != msgbox::IDYES)
        return;
    m_ctx.store.ClearAll();
    m_ctx.counter.ResetAlertCounts();
    finish();
}

void CNotifyWindow::dropTopmostToCorner() {
    setTopmost(false);
    move(0, 0);
    show();
}

// F1, as the main window's Help command.
void CNotifyWindow::onHelpKey() {
    help::openHelpContents(this, m_ctx.settings.programDirectory + "Vardel.hlp");
}

void CNotifyWindow::onDefine() {
    const AlertRecord* alert = m_ctx.store.findBySequence(currentIndex());
    if (!alert)
        return;
    if (m_defineHandler) {
        m_defineHandler(alert->enterprise, alert->trapKey);
        return;
    }
    msgbox::show(this, FormatString(IDS_DEFINE_WHERE, {alert->enterprise, m_ctx.settings.programDirectory}),
                 LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok, msgbox::Icon::Information);
}

// The window stays on top and where it is: the help is read beside the alert.
void CNotifyWindow::onAdvice() {
    const AlertRecord* alert = m_ctx.store.findBySequence(currentIndex());
    if (!alert)
        return;
    // A definition without Helpfile (the console's own state-change alerts)
    // leaves the bare program directory: the console's help serves it.
    if (alert->helpFile.empty() || alert->helpFile.back() == '/')
        onHelpKey();
    else if (m_ctx.openHelp)
        m_ctx.openHelp(this, alert->helpFile, static_cast<unsigned long>(alert->helpId));
    else
        help::openHelpContext(this, alert->helpFile, static_cast<unsigned long>(alert->helpId));
}

void CNotifyWindow::onLaunch() {
    const std::string serverName =
        fitField(m_ui->serverNameEdit->text().toUtf8().toStdString(), alert_width::kServerName);
    dropTopmostToCorner();
    if (m_ctx.openServerPage)
        m_ctx.openServerPage(serverName);
}

void CNotifyWindow::onPrint() {
    // The alert on display now is the one printed, whatever arrives while the
    // print dialog is open. With no alert on display there is nothing to print.
    const AlertRecord* shown = m_ctx.store.findBySequence(currentIndex());
    if (!shown)
        return;
    const AlertRecord alert = *shown;
    QPrinter printer(QPrinter::PrinterResolution);
    const bool chosen =
        m_ctx.choosePrinter ? m_ctx.choosePrinter(printer, this) : runPrintDialog(printer, this);
    if (!chosen)
        return;
    // Output to a PDF file has no device of its own: give it the units of a
    // 600 dpi printer, for which the page layout is made.
    if (printer.outputFormat() == QPrinter::PdfFormat && printer.resolution() < kPdfResolution)
        printer.setResolution(kPdfResolution);
    printAlert(alert, printer);
}

bool CNotifyWindow::PrintAlertTo(QPrinter& printer) {
    const AlertRecord* alert = m_ctx.store.findBySequence(currentIndex());
    return alert && printAlert(*alert, printer);
}

bool CNotifyWindow::printAlert(const AlertRecord& alert, QPrinter& printer) {
    printer.setDocName(QStringLiteral("test"));
    QPainter painter;
    if (!painter.begin(&printer)) {
        msgbox::show(this, LoadString(IDS_NO_MEMORY), LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok,
                     msgbox::Icon::Error);
        return false;
    }
    // Device units, y the top of the text as the printer's text origin has it.
    const int ascent = painter.fontMetrics().ascent();
    for (const PrintLine& line : LayoutAlertPrint(alert))
        painter.drawText(QPoint(line.x, line.y + ascent), toQt(line.text));
    painter.end();
    return true;
}

#include "vardel/shell/management_exchange.h"

#include "platform/msgbox/msgbox.h"
#include "ui_credentials.h"
#include "ui_management_server_prompt.h"
#include "vardel/alerts/wait_box.h"
#include "vardel/resources/qt_text.h"
#include "vardel/resources/string_table.h"
#include "webcall/webcall.h"

#include <QApplication>
#include <new>

namespace {

// An arrow over the wait cursor while the user is asked something.
class ArrowCursor {
public:
    ArrowCursor() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~ArrowCursor() { QApplication::restoreOverrideCursor(); }
    ArrowCursor(const ArrowCursor&) = delete;
    ArrowCursor& operator=(const ArrowCursor&) = delete;
};

// The wait box, or nullptr when it could not be made.
std::unique_ptr<CWaitBox> openWaitBox(QWidget* owner, int firstText, const std::string& serverName) {
    try {
        return std::make_unique<CWaitBox>(owner, LoadString(firstText), serverName,
                                          LoadString(IDS_PLEASE_WAIT));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace

// ---- Management-server prompt ----

CManagementServerDlg::CManagementServerDlg(QWidget* parent, const std::string& serverName,
                                           std::uint8_t useSsl, int tickMs)
    : QDialog(parent), m_ui(std::make_unique<Ui::CManagementServerDlg>()), m_serverName(serverName),
      m_useSsl(useSsl) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_ui->managementServerEdit->setText(toQt(serverName));
    m_ui->sslCheckBox->setChecked(useSsl == 1);
    m_ui->localCopyRadioButton->setChecked(true);
    m_ui->countdownLabel->setText(QString::number(m_countdown));
    connect(m_ui->sslCheckBox, &QCheckBox::clicked, this, [this](bool on) { m_useSsl = on ? 1 : 0; });
    connect(m_ui->stopTimerButton, &QPushButton::clicked, this, &CManagementServerDlg::OnStopTimer);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CManagementServerDlg::accept);
    connect(&m_timer, &QTimer::timeout, this, &CManagementServerDlg::OnTimer);
    m_timer.start(tickMs);
}

CManagementServerDlg::~CManagementServerDlg() = default;

void CManagementServerDlg::OnTimer() {
    if (m_countdown > 1) {
        --m_countdown;
        m_ui->countdownLabel->setText(QString::number(m_countdown));
        return;
    }
    m_timedOut = true;
    accept();
}

void CManagementServerDlg::OnStopTimer() {
    m_timer.stop();
    m_ui->stopTimerButton->setEnabled(false);
    m_ui->countdownLabel->setText("0");
    m_ui->countdownLabel->setEnabled(false);
    m_ui->timeLeftLabel->setEnabled(false);
    m_ui->secondsLabel->setEnabled(false);
}

void CManagementServerDlg::accept() {
    m_timer.stop();
    m_serverName = m_ui->managementServerEdit->text().toStdString();
    m_retrieve = m_ui->retrieveRadioButton->isChecked();
    m_useSsl = m_ui->sslCheckBox->isChecked() ? 1 : 0;
    QDialog::accept();
}

void CManagementServerDlg::reject() {
    m_timer.stop();
    m_retrieve = false;
    m_useSsl = m_ui->sslCheckBox->isChecked() ? 1 : 0;
    QDialog::reject();
}

// ---- Credentials dialog ----

CCredentialsDlg::CCredentialsDlg(QWidget* parent, const std::string& serverName)
    : QDialog(parent), m_ui(std::make_unique<Ui::CCredentialsDlg>()) {
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    m_ui->managementServerLabel->setText(toQt(serverName));
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CCredentialsDlg::~CCredentialsDlg() = default;

std::string CCredentialsDlg::userName() const {
    return m_ui->userNameEdit->text().toStdString();
}

std::string CCredentialsDlg::password() const {
    return m_ui->passwordEdit->text().toStdString();
}

// ---- The exchange ----

ManagementExchange::ManagementExchange(ConsoleSettings& settings, QWidget* owner, std::string programName,
                                       int promptTickMs)
    : m_settings(settings), m_owner(owner), m_programName(std::move(programName)),
      m_promptTickMs(promptTickMs) {}

void ManagementExchange::noMemory() {
    msgbox::show(m_owner, LoadString(IDS_NO_MEMORY), LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::Ok,
                 msgbox::Icon::Error);
}

int ManagementExchange::call(const std::string& serverName, int mode, const std::string& firstText,
                             const std::string& secondText) {
    int result = WEBCALL_FAILED;
    WorkerGroup worker(1);
    // The worker gets its own copies of everything it passes.
    worker.start([&result, serverName, port = static_cast<std::int32_t>(m_settings.port),
                  userName = m_settings.userName, password = m_settings.password, mode, firstText, secondText,
                  useSsl = m_settings.useSsl](const WorkerGroup::Post& post) {
        const int answer = httpTransaction(serverName.c_str(), port, userName.c_str(), password.c_str(), mode,
                                           firstText.c_str(), secondText.c_str(), useSsl);
        post([&result, answer] { result = answer; });
    });
    worker.wait();
    return result;
}

int ManagementExchange::withCredentials(const std::string& serverName, int mode, const std::string& firstText,
                                        const std::string& secondText) {
    std::unique_ptr<CCredentialsDlg> credentials;
    try {
        credentials = std::make_unique<CCredentialsDlg>(m_owner, serverName);
    } catch (const std::bad_alloc&) {
        noMemory();
        return WEBCALL_FAILED;
    }
    for (;;) {
        const int result = call(serverName, mode, firstText, secondText);
        if (result != WEBCALL_DENIED)
            return result;
        int answer;
        {
            ArrowCursor arrow;
            answer = credentials->exec();
        }
        if (answer != QDialog::Accepted)
            return WEBCALL_FAILED;
        m_settings.userName = credentials->userName();
        m_settings.password = credentials->password();
    }
}

int ManagementExchange::ProbeAccess() {
    const int result = withCredentials(m_settings.managementServerName, WEBCALL_PROBE, "", "anything");
    return result == WEBCALL_READ_ACCESS || result == WEBCALL_FULL_ACCESS ? result : WEBCALL_FAILED;
}

// 0 when done, else the failure's code (-3: the list changed on the server; -4:
// the server holds a list that was never fetched).
int ManagementExchange::TransferServerList(int mode) {
    const std::string transfer = m_settings.programDirectory + "result.txt";
    if (mode == WEBCALL_FETCH)
        return withCredentials(m_settings.managementServerName, mode, transfer, m_settings.iniPath);
    return withCredentials(m_settings.managementServerName, mode, m_settings.iniPath, transfer);
}

int ManagementExchange::NotifyManagementServer(const std::string& serverName, Notice notice) {
    // No server to tell.
    if (serverName.empty())
        return WEBCALL_FAILED;
    WaitCursor cursor;
    return call(serverName, notice == Notice::start ? WEBCALL_START_NOTICE : WEBCALL_END_NOTICE, "",
                "ANYTHING");
}

void ManagementExchange::reportStartupFailure(bool timedOut) {
    // An unattended start never waits for a click.
    if (timedOut)
        return;
    msgbox::show(m_owner,
                 LoadString(IDS_MS_LIST_FAILED) + " " + m_settings.managementServerName + ". " +
                     LoadString(IDS_USE_LOCAL),
                 m_programName);
}

int ManagementExchange::RunStartupExchange() {
    if (m_settings.managementServerName.empty()) {
        m_settings.startupServerName.clear();
        return 0;
    }

    bool timedOut = false;
    bool retrieve = false;
    try {
        CManagementServerDlg prompt(m_owner, m_settings.managementServerName, m_settings.useSsl,
                                    m_promptTickMs);
        prompt.exec();
        m_settings.managementServerName = prompt.serverName();
        m_settings.startupServerName = prompt.serverName();
        m_settings.useSsl = prompt.useSsl();
        timedOut = prompt.timedOut();
        retrieve = prompt.retrieve();
    } catch (const std::bad_alloc&) {
        noMemory();
        return -1;
    }
    if (!retrieve || m_settings.managementServerName.empty())
        return 0;

    std::unique_ptr<CWaitBox> waitBox =
        openWaitBox(m_owner, IDS_CONTACTING_MS, m_settings.managementServerName);
    if (!waitBox) {
        noMemory();
        return -1;
    }
    const int access = ProbeAccess();
    if (access == WEBCALL_FAILED) {
        waitBox->Close();
        reportStartupFailure(timedOut);
        return 0;
    }
    if (access == WEBCALL_READ_ACCESS)
        m_settings.readOnly = 1;
    else
        NotifyManagementServer(m_settings.managementServerName, Notice::start);

    const int fetched = TransferServerList(WEBCALL_FETCH);
    waitBox->Close();
    if (fetched != WEBCALL_DONE)
        reportStartupFailure(timedOut);
    return 0;
}

int ManagementExchange::AskWriteBack() {
    return msgbox::show(m_owner,
                        LoadString(IDS_WRITE_BACK_QUESTION) + " " + m_settings.managementServerName + " ?",
                        LoadString(IDS_PRODUCT_TITLE), msgbox::Buttons::YesNoCancel, msgbox::Icon::Warning);
}

ManagementExchange::WriteBack ManagementExchange::WriteBackServerList() {
    std::unique_ptr<CWaitBox> waitBox =
        openWaitBox(m_owner, IDS_WRITING_LIST, m_settings.managementServerName);
    if (!waitBox) {
        noMemory();
        return WriteBack::windowNotCreated;
    }
    // The credentials belong to the server of the start-up.
    if (m_settings.managementServerName != m_settings.startupServerName) {
        m_settings.userName.clear();
        m_settings.password.clear();
    }
    const int result = TransferServerList(WEBCALL_WRITE_BACK);
    waitBox->Close();
    if (result == WEBCALL_DONE)
        return WriteBack::done;
    std::string text = LoadString(IDS_WRITE_BACK_FAILED) + " " + m_settings.managementServerName;
    if (result == WEBCALL_CHANGED)
        text += "\n" + LoadString(IDS_LIST_CHANGED_MEANWHILE) + " " + m_settings.iniPath + ".rejected.";
    else if (result == WEBCALL_NOT_FETCHED)
        text += "\n" + LoadString(IDS_LIST_NOT_FETCHED) + " " + m_settings.iniPath + ".";
    msgbox::show(m_owner, text, m_programName);
    return WriteBack::failed;
}

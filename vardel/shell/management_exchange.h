#pragma once
// The exchange of the server list with the management server: the prompt at
// start-up (dialog 165) with its countdown, the credentials dialog (163), and
// the calls of httpTransaction, each made on a worker thread while the wait
// box or the wait cursor shows.

#include "vardel/store/console_settings.h"

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

namespace Ui {
class CManagementServerDlg;
class CCredentialsDlg;
} // namespace Ui

// The management-server prompt: the server name, SSL and where the list comes
// from; closes itself as OK when its countdown runs out.
class CManagementServerDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kCountdown = 120;

    // tickMs is the countdown's step (one second in the program).
    CManagementServerDlg(QWidget* parent, const std::string& serverName, std::uint8_t useSsl,
                         int tickMs = 1000);
    ~CManagementServerDlg() override;

    std::string serverName() const { return m_serverName; }
    std::uint8_t useSsl() const { return m_useSsl; }
    bool retrieve() const { return m_retrieve; }
    bool timedOut() const { return m_timedOut; }

    void OnStopTimer();
    void accept() override;
    // Escape and the close box: the name it opened with, the local copy.
    void reject() override;

private:
    void OnTimer();

    std::unique_ptr<Ui::CManagementServerDlg> m_ui;
    QTimer m_timer;
    int m_countdown = kCountdown;
    std::string m_serverName;
    std::uint8_t m_useSsl = 0;
    bool m_retrieve = false;
    bool m_timedOut = false;
};

// Asks for a user name and password after the server denied access.
class CCredentialsDlg : public QDialog {
    Q_OBJECT

public:
    CCredentialsDlg(QWidget* parent, const std::string& serverName);
    ~CCredentialsDlg() override;

    std::string userName() const;
    std::string password() const;

private:
    std::unique_ptr<Ui::CCredentialsDlg> m_ui;
};

class ManagementExchange {
public:
    enum class Notice { start, end };
    enum class WriteBack { done, failed, windowNotCreated };

    // owner: the main window, which owns the boxes; programName: the caption
    // of the failure messages.
    ManagementExchange(ConsoleSettings& settings, QWidget* owner, std::string programName,
                       int promptTickMs = 1000);

    // Start-up: offers to fetch the list, probes the access, fetches. -1 when
    // one of its windows could not be created (the start-up stops), else 0.
    int RunStartupExchange();
    // msgbox::IDYES, IDNO or IDCANCEL.
    int AskWriteBack();
    // The result is only informative: nobody waits on a notice.
    int NotifyManagementServer(const std::string& serverName, Notice notice);
    WriteBack WriteBackServerList();

private:
    int ProbeAccess();
    int TransferServerList(int mode);
    // The access-denied loop around one kind of call.
    int withCredentials(const std::string& serverName, int mode, const std::string& firstText,
                        const std::string& secondText);
    // One httpTransaction on a worker thread; the event loop turns meanwhile.
    int call(const std::string& serverName, int mode, const std::string& firstText,
             const std::string& secondText);
    void reportStartupFailure(bool timedOut);
    void noMemory();

    ConsoleSettings& m_settings;
    QWidget* m_owner;
    std::string m_programName;
    int m_promptTickMs;
};

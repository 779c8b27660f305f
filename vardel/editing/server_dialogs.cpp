#include "vardel/editing/server_dialogs.h"

#include "platform/msgbox/msgbox.h"
#include "ui_add_servers_manually.h"
#include "ui_edit_server_info.h"
#include "ui_enter_address.h"
#include "ui_enter_ip_address.h"
#include "vardel/editing/address_check.h"
#include "vardel/editing/dialog_manners.h"
#include "vardel/editing/snmpv3_dialog.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/config_store.h"

#include <QTextBlock>
#include <QTextCursor>

using editing::toQt;
using editing::toStd;

namespace {

constexpr int kNetWare = 5;
constexpr int kWindowsNt = 10;
constexpr int kSco = 15;

// A text too long for the work buffer is refused as it stands.
bool ipRefused(const std::string& text) {
    return text.size() >= kAddressWorkBuffer || IsValidIpAddress(text) != 0;
}
bool ipxRefused(const std::string& text) {
    return text.size() >= kAddressWorkBuffer || IsValidIpxAddress(text) != 0;
}

// The syntax checks shared by the three dialogs: true when every text
// passes, after the message of the first that does not (IPv6 last).
bool addressesAccepted(QWidget* owner, const std::string& ip, const std::string& ipx,
                       const std::string& ip6 = {}) {
    if (!ip.empty() && ipRefused(ip)) {
        editing::FrameworkMessageBox(owner, LoadString(IDS_BAD_IP_SYNTAX));
        return false;
    }
    if (!ipx.empty() && ipxRefused(ipx)) {
        editing::FrameworkMessageBox(owner, LoadString(IDS_BAD_IPX_SYNTAX));
        return false;
    }
    if (!ip6.empty() && IsValidIp6Address(ip6) != 0) {
        editing::FrameworkMessageBox(owner, LoadString(IDS_BAD_IP6_SYNTAX));
        return false;
    }
    return true;
}

} // namespace

// ---- Add Servers Manually ----

CAddServersManuallyDlg::CAddServersManuallyDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CAddServersManuallyDlg>()) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    editing::KeepUpperCase(m_ui->serversEdit);
    const std::pair<QRadioButton*, int> choices[] = {{m_ui->netWareRadioButton, kNetWare},
                                                     {m_ui->windowsNtRadioButton, kWindowsNt},
                                                     {m_ui->scoRadioButton, kSco}};
    for (const auto& [button, code] : choices)
        connect(button, &QRadioButton::toggled, this, [this, code = code](bool on) {
            if (on)
                m_nosCode = code;
        });
    connect(m_ui->okButton, &QPushButton::clicked, this, &CAddServersManuallyDlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CAddServersManuallyDlg::~CAddServersManuallyDlg() = default;

void CAddServersManuallyDlg::setNames(const std::string& names) {
    m_ui->serversEdit->setPlainText(QString::fromStdString(names));
}

void CAddServersManuallyDlg::OnOK() {
    if (m_nosCode == 0) {
        msgbox::show(this, LoadString(IDS_SELECT_NOS), LoadString(IDS_ADD_SERVERS));
        return;
    }
    std::list<std::string> lines;
    for (QTextBlock line = m_ui->serversEdit->document()->begin(); line.isValid(); line = line.next()) {
        std::string text = toStd(line.text());
        if (text.size() >= kLineBuffer) {
            // Show the user which line it is rather than cutting it short.
            QTextCursor cursor(line);
            m_ui->serversEdit->setTextCursor(cursor);
            m_ui->serversEdit->setFocus(Qt::OtherFocusReason);
            editing::FrameworkMaxCharsBox(this, static_cast<int>(kLineBuffer - 1));
            return;
        }
        // A name the console file cannot hold would lose its addresses at the next start.
        if (!text.empty() && !IsValidServerName(text)) {
            m_ui->serversEdit->setTextCursor(QTextCursor(line));
            m_ui->serversEdit->setFocus(Qt::OtherFocusReason);
            editing::FrameworkMessageBox(this, FormatString(IDS_BAD_SERVER_NAME, {text}));
            return;
        }
        lines.push_front(std::move(text));
    }
    m_lines = std::move(lines);
    accept();
}

// ---- Enter IP Address ----

CEnterIpAddressDlg::CEnterIpAddressDlg(QWidget* parent, const std::string& name)
    : QDialog(parent), m_ui(std::make_unique<Ui::CEnterIpAddressDlg>()), m_name(name) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    m_ui->serverNameLabel->setText(toQt(m_name));
    m_ui->ipAddressEdit->setFocus(Qt::OtherFocusReason);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CEnterIpAddressDlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CEnterIpAddressDlg::~CEnterIpAddressDlg() = default;

void CEnterIpAddressDlg::OnOK() {
    const std::string ip = toStd(m_ui->ipAddressEdit->text());
    const std::string ip6 = toStd(m_ui->ip6AddressEdit->text());
    if (ip.empty() && ip6.empty()) {
        msgbox::show(this, LoadString(IDS_ENTER_IP), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    if (!addressesAccepted(this, ip, {}, ip6))
        return;
    if (m_name.size() > static_cast<std::size_t>(kNameLimit)) {
        editing::FrameworkMaxCharsBox(this, kNameLimit);
        return;
    }
    m_ipAddress = ip;
    m_ip6Address = ip6;
    accept();
}

// ---- Enter Address ----

CEnterAddressDlg::CEnterAddressDlg(QWidget* parent, const std::string& name)
    : QDialog(parent), m_ui(std::make_unique<Ui::CEnterAddressDlg>()), m_name(name) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    m_ui->serverNameLabel->setText(toQt(m_name));
    connect(m_ui->okButton, &QPushButton::clicked, this, &CEnterAddressDlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CEnterAddressDlg::~CEnterAddressDlg() = default;

void CEnterAddressDlg::OnOK() {
    const std::string ip = toStd(m_ui->ipAddressEdit->text());
    const std::string ipx = toStd(m_ui->ipxAddressEdit->text());
    const std::string ip6 = toStd(m_ui->ip6AddressEdit->text());
    if (ip.empty() && ipx.empty() && ip6.empty()) {
        editing::FrameworkMessageBox(this, LoadString(IDS_ENTER_IP_OR_IPX));
        return;
    }
    if (!addressesAccepted(this, ip, ipx, ip6))
        return;
    m_ipAddress = ip;
    m_ipxAddress = ipx;
    m_ip6Address = ip6;
    accept();
}

// ---- Edit Server Information ----

CEditServerInfoDlg::CEditServerInfoDlg(QWidget* parent, const std::string& name, const std::string& nosText,
                                       const std::string& ipAddress, const std::string& ipxAddress,
                                       const std::string& community)
    : QDialog(parent), m_ui(std::make_unique<Ui::CEditServerInfoDlg>()), m_name(name), m_nosText(nosText),
      m_ipAddress(ipAddress), m_ipxAddress(ipxAddress), m_community(community) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    m_ui->communityEdit->setMaxLength(kCommunityLimit);
    m_ui->serverNameLabel->setText(toQt(m_name));
    m_ui->ipAddressEdit->setText(toQt(m_ipAddress));
    m_ui->ipxAddressEdit->setText(toQt(m_ipxAddress));
    m_ui->communityEdit->setText(toQt(m_community));
    if (m_nosText == "NetWare")
        m_ui->netWareRadioButton->setChecked(true);
    else if (m_nosText == "NT")
        m_ui->ntRadioButton->setChecked(true);
    else if (m_nosText == "SCO")
        m_ui->scoRadioButton->setChecked(true);
    connect(m_ui->okButton, &QPushButton::clicked, this, &CEditServerInfoDlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->snmpV3Button, &QPushButton::clicked, this, &CEditServerInfoDlg::OnSnmpV3);
}

CEditServerInfoDlg::~CEditServerInfoDlg() = default;

void CEditServerInfoDlg::setIp6Address(const std::string& address) {
    m_ip6Address = address;
    m_ui->ip6AddressEdit->setText(toQt(address));
}

void CEditServerInfoDlg::OnSnmpV3() {
    CSnmpV3Dlg dialog(this, m_name, m_v3, m_consoleEngineId);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_v3 = dialog.credentials();
    m_v3Changed = true;
}

void CEditServerInfoDlg::OnOK() {
    const std::string ip = toStd(m_ui->ipAddressEdit->text());
    const std::string community = toStd(m_ui->communityEdit->text());
    const std::string ipx = toStd(m_ui->ipxAddressEdit->text());
    const std::string ip6 = toStd(m_ui->ip6AddressEdit->text());
    if (community.empty()) {
        editing::FrameworkMessageBox(this, LoadString(IDS_ENTER_COMMUNITY));
        return;
    }
    if (ip.empty() && ipx.empty() && ip6.empty()) {
        editing::FrameworkMessageBox(this, LoadString(IDS_ENTER_IP_OR_IPX));
        return;
    }
    if (!addressesAccepted(this, ip, ipx, ip6))
        return;
    if (m_ui->ntRadioButton->isChecked())
        m_nosText = "NT";
    else if (m_ui->netWareRadioButton->isChecked())
        m_nosText = "NetWare";
    else if (m_ui->scoRadioButton->isChecked())
        m_nosText = "SCO";
    m_ipAddress = ip;
    m_ipxAddress = ipx;
    m_ip6Address = ip6;
    m_community = community;
    accept();
}

#include "vardel/editing/snmpv3_dialog.h"

#include "snmp/snmp.h"
#include "ui_snmpv3.h"
#include "vardel/editing/dialog_manners.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/snmpv3_store.h"

#include <QPushButton>
#include <algorithm>

using editing::toQt;
using editing::toStd;

CSnmpV3Dlg::CSnmpV3Dlg(QWidget* parent, const std::string& serverName, const SnmpV3Credentials& credentials,
                       std::function<std::string()> consoleEngineId)
    : QDialog(parent), m_ui(std::make_unique<Ui::CSnmpV3Dlg>()), m_credentials(credentials),
      m_consoleEngineId(std::move(consoleEngineId)) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    m_ui->serverNameLabel->setText(toQt(serverName));
    m_ui->userEdit->setText(toQt(credentials.user));
    m_ui->levelCombo->setCurrentIndex(std::clamp(credentials.level, 1, 3) - 1);
    m_ui->authCombo->setCurrentIndex(credentials.auth > 0 ? credentials.auth - 1 : snmpv3::kAuthSha256 - 1);
    m_ui->privCombo->setCurrentIndex(credentials.priv > 0 ? credentials.priv - 1 : snmpv3::kPrivAes - 1);
    m_ui->engineEdit->setText(toQt(snmpv3::toHex(credentials.engineId)));
    m_ui->v3OnlyCheckBox->setChecked(credentials.v3Only);
    enableFields();
    connect(m_ui->levelCombo, &QComboBox::currentIndexChanged, this, [this] { enableFields(); });
    connect(m_ui->okButton, &QPushButton::clicked, this, &CSnmpV3Dlg::OnOK);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CSnmpV3Dlg::~CSnmpV3Dlg() = default;

void CSnmpV3Dlg::enableFields() {
    const int level = m_ui->levelCombo->currentIndex() + 1;
    m_ui->authCombo->setEnabled(level >= snmpv3::kAuthNoPriv);
    m_ui->authPhraseEdit->setEnabled(level >= snmpv3::kAuthNoPriv);
    m_ui->privCombo->setEnabled(level >= snmpv3::kAuthPriv);
    m_ui->privPhraseEdit->setEnabled(level >= snmpv3::kAuthPriv);
}

void CSnmpV3Dlg::OnOK() {
    SnmpV3Credentials c;
    c.user = toStd(m_ui->userEdit->text().trimmed());
    if (c.user.empty()) {
        // No user: the server is reached by its community alone.
        m_credentials = SnmpV3Credentials();
        accept();
        return;
    }
    c.level = m_ui->levelCombo->currentIndex() + 1;
    c.auth = c.level >= snmpv3::kAuthNoPriv ? m_ui->authCombo->currentIndex() + 1 : 0;
    c.priv = c.level >= snmpv3::kAuthPriv ? m_ui->privCombo->currentIndex() + 1 : 0;
    c.v3Only = m_ui->v3OnlyCheckBox->isChecked();
    const std::string engineText = toStd(m_ui->engineEdit->text().trimmed());
    if (!engineText.empty() &&
        (!snmpv3::fromHex(engineText, c.engineId) || c.engineId.size() < 5 || c.engineId.size() > 32)) {
        editing::FrameworkMessageBox(this, LoadString(IDS_V3_ENGINE_ID_BAD));
        return;
    }
    const std::string authPhrase = toStd(m_ui->authPhraseEdit->text());
    const std::string privPhrase = toStd(m_ui->privPhraseEdit->text());
    const bool needsAuth = c.level >= snmpv3::kAuthNoPriv;
    const bool needsPriv = c.level >= snmpv3::kAuthPriv;
    const SnmpV3Credentials& old = m_credentials;
    // Empty phrases keep the keys there are, if they still fit.
    const bool keep = authPhrase.empty() && privPhrase.empty() && old.configured() && old.user == c.user &&
                      old.level == c.level && old.auth == c.auth && old.priv == c.priv &&
                      (old.engineId == c.engineId || old.engineId.empty() == c.engineId.empty());
    if (keep && old.engineId == c.engineId) {
        const bool v3Only = c.v3Only;
        c = old;
        c.v3Only = v3Only;
        m_credentials = c;
        accept();
        return;
    }
    if ((needsAuth && authPhrase.empty()) || (needsPriv && privPhrase.empty())) {
        editing::FrameworkMessageBox(this, LoadString(IDS_V3_PHRASE_NEEDED));
        return;
    }
    const std::string consoleEngine = m_consoleEngineId ? m_consoleEngineId() : std::string();
    if ((needsAuth && authPhrase.size() < 8) || (needsPriv && privPhrase.size() < 8) ||
        !MakeV3Keys(c, authPhrase, privPhrase, consoleEngine)) {
        editing::FrameworkMessageBox(this, LoadString(IDS_V3_PHRASE_TOO_SHORT));
        return;
    }
    m_credentials = c;
    accept();
}

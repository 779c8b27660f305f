#include "vardel/editing/advanced_options_dialog.h"

#include "platform/msgbox/msgbox.h"
#include "ui_advanced_options.h"
#include "vardel/alerts/quiet_policy.h"
#include "vardel/editing/dialog_manners.h"
#include "vardel/resources/string_table.h"

#include <limits>

using editing::toQt;
using editing::toStd;

namespace {

// The leading decimal number of a field; 0 when there is none or when it does
// not fit below limit.
unsigned long long leadingNumber(const QString& text, unsigned long long limit) {
    unsigned long long value = 0;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            break;
        value = value * 10 + static_cast<unsigned>(c.unicode() - u'0');
        if (value > limit)
            return 0;
    }
    return value;
}

constexpr unsigned long long kIntMax = std::numeric_limits<std::int32_t>::max();

} // namespace

CAdvancedOptionsDlg::CAdvancedOptionsDlg(QWidget* parent, const AdvancedOptions& values)
    : QDialog(parent), m_ui(std::make_unique<Ui::CAdvancedOptionsDlg>()), m_values(values) {
    m_ui->setupUi(this);
    editing::ApplyDialogManners(this);
    editing::KeepUpperCase(m_ui->managementServerEdit);
    for (QLineEdit* edit : {m_ui->portEdit, m_ui->pollTimeEdit, m_ui->retryEdit, m_ui->alertCeilingEdit})
        editing::AcceptDigitsOnly(edit);
    m_ui->managementServerEdit->setMaxLength(kTextLimit);
    m_ui->soundFileEdit->setMaxLength(kTextLimit);

    m_ui->managementServerEdit->setText(toQt(m_values.managementServerName));
    m_ui->soundFileEdit->setText(toQt(m_values.soundFile));
    m_ui->sslCheckBox->setChecked(m_values.useSsl != 0);
    m_ui->dhcpCheckBox->setChecked(m_values.useDhcp != 0);
    m_ui->soundCheckBox->setChecked(m_values.playSound != 0);
    m_ui->standardTrapsCheckBox->setChecked(m_values.receiveStandardTraps != 0);
    m_ui->unclassifiedTrapsCheckBox->setChecked(m_values.showUnclassifiedTraps != 0);
    m_ui->retryEdit->setText(QString::number(m_values.retry));
    m_ui->pollTimeEdit->setText(QString::number(m_values.pollTime));
    m_ui->portEdit->setText(QString::number(m_values.port));
    m_ui->alertCeilingEdit->setText(QString::number(m_values.alertCeiling));
    m_ui->soundFileEdit->setEnabled(m_values.playSound != 0);
    m_ui->desktopNotificationsCheckBox->setChecked(m_values.desktopNotifications != 0);
    m_ui->quietHoursCheckBox->setChecked(m_values.quietHours != 0);
    m_ui->quietStartEdit->setText(toQt(m_values.quietHoursStart));
    m_ui->quietEndEdit->setText(toQt(m_values.quietHoursEnd));
    m_ui->flappingCheckBox->setChecked(m_values.flapping != 0);
    m_ui->flappingChangesEdit->setText(QString::number(m_values.flappingChanges));
    m_ui->flappingMinutesEdit->setText(QString::number(m_values.flappingMinutes));
    for (QLineEdit* edit : {m_ui->quietStartEdit, m_ui->quietEndEdit})
        edit->setMaxLength(5);
    for (QLineEdit* edit : {m_ui->flappingChangesEdit, m_ui->flappingMinutesEdit}) {
        editing::AcceptDigitsOnly(edit);
        edit->setMaxLength(5);
    }
    m_ui->trapCommunityCheckBox->setChecked(m_values.checkTrapCommunity != 0);

    connect(m_ui->soundCheckBox, &QCheckBox::toggled, m_ui->soundFileEdit, &QWidget::setEnabled);
    connect(m_ui->saveButton, &QPushButton::clicked, this, &CAdvancedOptionsDlg::OnSave);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CAdvancedOptionsDlg::~CAdvancedOptionsDlg() = default;

void CAdvancedOptionsDlg::OnSave() {
    const std::string& title = LoadString(IDS_PRODUCT_TITLE);
    const auto retry = static_cast<std::int32_t>(leadingNumber(m_ui->retryEdit->text(), kIntMax));
    if (retry < 1) {
        m_ui->retryEdit->setText("1");
        msgbox::show(this, LoadString(IDS_RETRY_TOO_SMALL), title, msgbox::Buttons::Ok,
                     msgbox::Icon::Warning);
        return;
    }
    m_values.retry = retry;

    const auto pollTime = static_cast<std::int32_t>(leadingNumber(m_ui->pollTimeEdit->text(), kIntMax));
    if (pollTime < 1) {
        m_ui->pollTimeEdit->setText("1");
        msgbox::show(this, LoadString(IDS_POLL_TOO_SMALL), title, msgbox::Buttons::Ok, msgbox::Icon::Warning);
        return;
    }
    m_values.pollTime = pollTime;

    if (m_ui->portEdit->text().isEmpty()) {
        m_ui->portEdit->setText("80");
        m_values.port = 80;
    } else {
        m_values.port = static_cast<std::uint32_t>(
            leadingNumber(m_ui->portEdit->text(), std::numeric_limits<std::uint32_t>::max()));
    }

    m_values.managementServerName = toStd(m_ui->managementServerEdit->text());

    // Empty, 0 or too large: the default.
    auto ceiling = static_cast<std::int32_t>(leadingNumber(m_ui->alertCeilingEdit->text(), kIntMax));
    if (ceiling < 1) {
        ceiling = kDefaultAlertCeiling;
        m_ui->alertCeilingEdit->setText(QString::number(ceiling));
    }
    m_values.alertCeiling = ceiling;

    if (m_ui->soundFileEdit->text().isEmpty())
        m_ui->soundFileEdit->setText("newmail.wav");
    m_values.soundFile = toStd(m_ui->soundFileEdit->text());

    m_values.useSsl = m_ui->sslCheckBox->isChecked() ? 1 : 0;
    m_values.useDhcp = m_ui->dhcpCheckBox->isChecked() ? 1 : 0;
    m_values.playSound = m_ui->soundCheckBox->isChecked() ? 1 : 0;
    m_values.receiveStandardTraps = m_ui->standardTrapsCheckBox->isChecked() ? 1 : 0;
    m_values.showUnclassifiedTraps = m_ui->unclassifiedTrapsCheckBox->isChecked() ? 1 : 0;
    m_values.desktopNotifications = m_ui->desktopNotificationsCheckBox->isChecked() ? 1 : 0;

    const bool quiet = m_ui->quietHoursCheckBox->isChecked();
    const std::string start = toStd(m_ui->quietStartEdit->text().trimmed());
    const std::string end = toStd(m_ui->quietEndEdit->text().trimmed());
    if (ClockMinutes(start) < 0 || ClockMinutes(end) < 0) {
        if (quiet) {
            msgbox::show(this, LoadString(IDS_QUIET_HOURS_BAD), title, msgbox::Buttons::Ok,
                         msgbox::Icon::Warning);
            return;
        }
    } else {
        m_values.quietHoursStart = start;
        m_values.quietHoursEnd = end;
    }
    const bool flapping = m_ui->flappingCheckBox->isChecked();
    const auto changes = static_cast<std::int32_t>(leadingNumber(m_ui->flappingChangesEdit->text(), 100000));
    const auto minutes = static_cast<std::int32_t>(leadingNumber(m_ui->flappingMinutesEdit->text(), 100000));
    if (changes < 2 || minutes < 1) {
        if (flapping) {
            msgbox::show(this, LoadString(IDS_FLAPPING_BAD), title, msgbox::Buttons::Ok,
                         msgbox::Icon::Warning);
            return;
        }
    } else {
        m_values.flappingChanges = changes;
        m_values.flappingMinutes = minutes;
    }
    m_values.quietHours = quiet ? 1 : 0;
    m_values.flapping = flapping ? 1 : 0;
    m_values.checkTrapCommunity = m_ui->trapCommunityCheckBox->isChecked() ? 1 : 0;
    accept();
}

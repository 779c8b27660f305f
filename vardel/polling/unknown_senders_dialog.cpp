#include "vardel/polling/unknown_senders_dialog.h"

#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "ui_unknown_senders.h"
#include "vardel/resources/string_table.h"

#include <QHeaderView>
#include <QShortcut>

namespace {
QString qt(const std::string& text) {
    return QString::fromStdString(text);
}
} // namespace

CUnknownSendersDlg::CUnknownSendersDlg(QWidget* parent, UnknownSenders& senders, std::string programDir,
                                       std::function<void(const std::string& address)> addServer)
    : QDialog(parent), m_ui(std::make_unique<Ui::CUnknownSendersDlg>()), m_senders(senders),
      m_programDir(std::move(programDir)), m_addServer(std::move(addServer)) {
    m_ui->setupUi(this);
    setFixedSize(size());
    setWindowModality(Qt::WindowModal);
    m_ui->senderList->setHeaderLabels({qt(LoadString(IDS_SENDER_ADDRESS)), qt(LoadString(IDS_SENDER_COUNT)),
                                       qt(LoadString(IDS_SENDER_LAST_TRAP)),
                                       qt(LoadString(IDS_SENDER_LAST_TIME))});
    m_ui->senderList->setColumnWidth(0, 110);
    m_ui->senderList->setColumnWidth(1, 56);
    m_ui->senderList->setColumnWidth(2, 190);
    auto* helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(helpKey, &QShortcut::activated, this,
            [this] { help::openHelpContents(this, m_programDir + "Vardel.hlp"); });
    connect(m_ui->addServerButton, &QPushButton::clicked, this, &CUnknownSendersDlg::onAddServer);
    connect(m_ui->closeButton, &QPushButton::clicked, this, &QDialog::reject);
    m_senders.changed = [this] { refresh(); };
    refresh();
}

CUnknownSendersDlg::~CUnknownSendersDlg() {
    m_senders.changed = nullptr;
}

void CUnknownSendersDlg::refresh() {
    const QTreeWidgetItem* current = m_ui->senderList->currentItem();
    const QString chosen = current ? current->text(0) : QString();
    m_ui->senderList->clear();
    for (const UnknownSender& s : m_senders.senders()) {
        auto* item = new QTreeWidgetItem(
            m_ui->senderList, {qt(s.address), QString::number(s.count), qt(s.lastTrap), qt(s.lastTime)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        if (item->text(0) == chosen)
            m_ui->senderList->setCurrentItem(item);
    }
    m_ui->addServerButton->setEnabled(m_addServer && !m_senders.senders().empty());
}

void CUnknownSendersDlg::onAddServer() {
    const QTreeWidgetItem* item = m_ui->senderList->currentItem();
    if (!item) {
        msgbox::show(this, LoadString(IDS_CHOOSE_SENDER), LoadString(IDS_PRODUCT_TITLE));
        return;
    }
    if (m_addServer)
        m_addServer(item->text(0).toStdString());
}

#include "vardel/polling/agents_dialog.h"

#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "snmp/snmp.h"
#include "ui_agents.h"
#include "vardel/alerts/alerts.h"
#include "vardel/polling/poll_cycle.h"
#include "vardel/resources/qt_text.h"
#include "vardel/resources/string_table.h"
#include "vardel/store/snmpv3_store.h"

#include <QHeaderView>
#include <QPushButton>
#include <new>
#include <vector>

namespace {

constexpr int kRetries = 3;
constexpr unsigned long kTimeout = 800; // hundredths of a second
constexpr std::size_t kValueBuffer = 512;

struct Agent {
    std::string name;
    std::string oid;
};

} // namespace

CAgentsDlg::CAgentsDlg(QWidget* parent, const std::string& serverName, const std::string& address,
                       const std::string& addressKind, const std::string& community,
                       const std::string& programDirectory)
    : QDialog(parent), m_ui(std::make_unique<Ui::CAgentsDlg>()), m_serverName(serverName), m_address(address),
      m_addressKind(addressKind), m_community(community), m_programDirectory(programDirectory) {
    m_ui->setupUi(this);
    m_ui->serverNameLabel->setText(toQt(m_serverName));
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

CAgentsDlg::~CAgentsDlg() = default;

void CAgentsDlg::setVisible(bool visible) {
    if (visible && !m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CAgentsDlg::appendRow(const std::string& name, const std::string& status) {
    auto* row = new QTreeWidgetItem(m_ui->agentsListView);
    row->setText(0, toQt(name));
    row->setText(1, toQt(status));
}

void CAgentsDlg::OnInitDialog() {
    const std::string& title = LoadString(IDS_PRODUCT_TITLE);
    const std::string path = m_programDirectory + "agents.ini";
    const int count = profile::getInt(path, "AgentsInfo", "Number", 0);
    if (count == 0) {
        msgbox::show(this, LoadString(IDS_AGENTS_INI_ERROR), title);
        return;
    }

    QTreeWidget* list = m_ui->agentsListView;
    const int width = list->width();
    list->setColumnCount(2);
    list->setHeaderLabels({toQt(LoadString(IDS_AGENT_NAME)), toQt(LoadString(IDS_STATUS))});
    list->headerItem()->setTextAlignment(0, Qt::AlignLeft | Qt::AlignVCenter);
    list->headerItem()->setTextAlignment(1, Qt::AlignLeft | Qt::AlignVCenter);
    list->header()->setStretchLastSection(false);
    list->setColumnWidth(0, 3 * width / 5);
    list->setColumnWidth(1, 2 * width / 5);
    list->setHeaderHidden(false);

    int status = kSnmpSuccess;
    auto snmp = std::make_unique<Snmp>(status, 0);
    if (status != kSnmpSuccess) {
        msgbox::show(this, LoadString(IDS_SNMP_INIT_ERROR), title);
        return;
    }
    CTarget target;
    if (m_addressKind == "IP")
        target.set_address(IpAddress(m_address));
    else if (m_addressKind == "IPX")
        target.set_address(IpxAddress(m_address));
    target.set_retry(kRetries);
    target.set_timeout(kTimeout);
    target.set_readcommunity(OctetStr(m_community.c_str()));
    target.set_writecommunity(OctetStr(m_community.c_str()));
    if (m_addressKind == "IP")
        ApplyV3Target(m_v3, target);

    CWaitBox* waitBox = new (std::nothrow)
        CWaitBox(this, LoadString(IDS_GETTING_AGENTS), m_serverName, LoadString(IDS_PLEASE_WAIT));
    if (!waitBox) {
        msgbox::show(this, LoadString(IDS_NO_MEMORY), title, msgbox::Buttons::Ok, msgbox::Icon::Error);
        return;
    }

    std::vector<Agent> agents;
    for (int i = 1; i <= count; ++i) {
        const std::string section = "Agent" + std::to_string(i);
        agents.push_back({profile::getString(path, section, "Name", "", kValueBuffer),
                          profile::getString(path, section, "OID", "", kValueBuffer)});
    }

    // The session is driven by the worker alone until the worker is done.
    {
        WorkerGroup worker(1);
        worker.start([this, &agents, &snmp, &target](const WorkerGroup::Post& post) {
            for (const Agent& agent : agents) {
                Pdu pdu;
                pdu += Vb(Oid(agent.oid));
                const int status = snmp->get(pdu, target);
                // An SNMPv3 refusal is told apart from silence.
                const std::string text = status == kSnmpSuccess  ? LoadString(IDS_AGENT_OK)
                                         : snmpIsRefusal(status) ? SnmpRefusalText(status)
                                                                 : LoadString(IDS_NOT_RESPONDING);
                post([this, name = agent.name, text] { appendRow(name, text); });
            }
        });
        worker.wait();
    }
    snmp.reset();
    list->setCurrentIndex(QModelIndex());

    waitBox->Close();
    delete waitBox;
}

#pragma once
// The agents status dialog (dialog 174, "Rackline Agents"): asks one server,
// agent by agent as agents.ini lists them, whether each agent answers, and
// lists them "OK" or "Not Responding".

#include "vardel/store/managed_server.h"
#include "vardel/store/program_env.h"

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class CAgentsDlg;
}

class CAgentsDlg : public QDialog {
    Q_OBJECT

public:
    // addressKind: "IP" or "IPX". agents.ini is read from programDirectory.
    CAgentsDlg(QWidget* parent, const std::string& serverName, const std::string& address,
               const std::string& addressKind, const std::string& community,
               const std::string& programDirectory = ProgramDirectory());
    ~CAgentsDlg() override;

    // The server's SNMPv3 user, when it has one: the queries go over v3, and
    // an agent that refuses them shows why. Before the dialog is shown.
    void setV3(const SnmpV3Credentials& v3) { m_v3 = v3; }

    // The first showing runs the whole query before the dialog appears.
    void setVisible(bool visible) override;

private:
    void OnInitDialog();
    void appendRow(const std::string& name, const std::string& status);

    std::unique_ptr<Ui::CAgentsDlg> m_ui;
    std::string m_serverName;
    std::string m_address;
    std::string m_addressKind;
    std::string m_community;
    std::string m_programDirectory;
    SnmpV3Credentials m_v3;
    bool m_initialised = false;
};

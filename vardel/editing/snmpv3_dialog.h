#pragma once
// The SNMPv3 dialog (340), opened by Edit Server Information's "SNMPv3...":
// the server's v3 user, its security level, protocols and pass phrases, its
// agent's engine ID and "v3 only". The pass phrases become keys on OK and are
// kept nowhere.

#include "vardel/store/managed_server.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class CSnmpV3Dlg;
}

class CSnmpV3Dlg : public QDialog {
    Q_OBJECT

public:
    // consoleEngineId gives the console's engine ID (for the keys of informs).
    CSnmpV3Dlg(QWidget* parent, const std::string& serverName, const SnmpV3Credentials& credentials,
               std::function<std::string()> consoleEngineId);
    ~CSnmpV3Dlg() override;

    // The values given, replaced on OK (an empty user: none).
    const SnmpV3Credentials& credentials() const { return m_credentials; }

private:
    void OnOK();
    void enableFields();

    std::unique_ptr<Ui::CSnmpV3Dlg> m_ui;
    SnmpV3Credentials m_credentials;
    std::function<std::string()> m_consoleEngineId;
};

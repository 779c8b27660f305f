#pragma once
// "Unknown senders" (dialog 310): the addresses outside the server list that
// sent traps, with their count, last trap and its time; "Add Server..." for one.

#include "vardel/alerts/unknown_senders.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class CUnknownSendersDlg;
}

class CUnknownSendersDlg : public QDialog {
    Q_OBJECT

public:
    // addServer runs the add-server path for an address; the list follows
    // senders while it is open.
    CUnknownSendersDlg(QWidget* parent, UnknownSenders& senders, std::string programDir,
                       std::function<void(const std::string& address)> addServer);
    ~CUnknownSendersDlg() override;

    void refresh();

private:
    void onAddServer();

    std::unique_ptr<Ui::CUnknownSendersDlg> m_ui;
    UnknownSenders& m_senders;
    std::string m_programDir;
    std::function<void(const std::string& address)> m_addServer;
};

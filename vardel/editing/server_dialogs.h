#pragma once
// The dialogs through which the user types server data: Add Servers Manually
// (141), Enter IP Address (142), Enter Address (153) and Edit Server
// Information (154). Each is created with its initial values, run with exec(),
// and read after it closes; none touches the server list itself.

#include "vardel/store/managed_server.h"

#include <QDialog>
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace Ui {
class CAddServersManuallyDlg;
class CEnterIpAddressDlg;
class CEnterAddressDlg;
class CEditServerInfoDlg;
} // namespace Ui

// Names of new servers, one per line, with one operating system for all.
class CAddServersManuallyDlg : public QDialog {
    Q_OBJECT

public:
    // The line buffer: a line of 512 bytes or more is refused, never cut.
    static constexpr std::size_t kLineBuffer = 512;

    explicit CAddServersManuallyDlg(QWidget* parent = nullptr);
    ~CAddServersManuallyDlg() override;

    // Fills the names field (an unknown sender's address).
    void setNames(const std::string& names);

    // 0 until a system is chosen; NetWare 5, Windows NT 10, SCO 15.
    int nosCode() const { return m_nosCode; }
    // After OK: every line typed, the last line first, untrimmed, empty ones
    // included. Empty otherwise.
    const std::list<std::string>& lines() const { return m_lines; }

private:
    void OnOK();

    std::unique_ptr<Ui::CAddServersManuallyDlg> m_ui;
    int m_nosCode = 0;
    std::list<std::string> m_lines;
};

// The IP address of a server whose name could not be resolved.
class CEnterIpAddressDlg : public QDialog {
    Q_OBJECT

public:
    // The framework takes back at most this many bytes of the name on OK.
    static constexpr int kNameLimit = 256;

    CEnterIpAddressDlg(QWidget* parent, const std::string& name);
    ~CEnterIpAddressDlg() override;

    const std::string& name() const { return m_name; }
    // Empty unless the dialog closed with OK (then one of them or both are not).
    const std::string& ipAddress() const { return m_ipAddress; }
    const std::string& ip6Address() const { return m_ip6Address; }

private:
    void OnOK();

    std::unique_ptr<Ui::CEnterIpAddressDlg> m_ui;
    std::string m_name;
    std::string m_ipAddress;
    std::string m_ip6Address;
};

// An IP or an IPX address (or both) of a NetWare server.
class CEnterAddressDlg : public QDialog {
    Q_OBJECT

public:
    CEnterAddressDlg(QWidget* parent, const std::string& name);
    ~CEnterAddressDlg() override;

    const std::string& name() const { return m_name; }
    // All empty unless the dialog closed with OK; any may be empty then.
    const std::string& ipAddress() const { return m_ipAddress; }
    const std::string& ipxAddress() const { return m_ipxAddress; }
    const std::string& ip6Address() const { return m_ip6Address; }

private:
    void OnOK();

    std::unique_ptr<Ui::CEnterAddressDlg> m_ui;
    std::string m_name;
    std::string m_ipAddress;
    std::string m_ipxAddress;
    std::string m_ip6Address;
};

// Operating system, addresses and community of one listed server.
class CEditServerInfoDlg : public QDialog {
    Q_OBJECT

public:
    // A community longer than this would not survive the server list's reload.
    static constexpr int kCommunityLimit = 19;

    CEditServerInfoDlg(QWidget* parent, const std::string& name, const std::string& nosText,
                       const std::string& ipAddress, const std::string& ipxAddress,
                       const std::string& community);
    ~CEditServerInfoDlg() override;

    // The values given, replaced by the user's on OK. nosText is "NT",
    // "NetWare" or "SCO" when one was chosen, else the text given.
    const std::string& name() const { return m_name; }
    const std::string& nosText() const { return m_nosText; }
    const std::string& ipAddress() const { return m_ipAddress; }
    const std::string& ipxAddress() const { return m_ipxAddress; }
    const std::string& community() const { return m_community; }
    // The server's IPv6 address, given before exec() (empty unless set).
    void setIp6Address(const std::string& address);
    const std::string& ip6Address() const { return m_ip6Address; }

    // The server's SNMPv3 user, edited through "SNMPv3..."; consoleEngineId
    // gives the console's engine ID for its keys.
    void setV3(const SnmpV3Credentials& v3, std::function<std::string()> consoleEngineId) {
        m_v3 = v3;
        m_consoleEngineId = std::move(consoleEngineId);
    }
    const SnmpV3Credentials& v3() const { return m_v3; }
    // True when "SNMPv3..." closed with OK.
    bool v3Changed() const { return m_v3Changed; }

private:
    void OnOK();
    void OnSnmpV3();

    std::unique_ptr<Ui::CEditServerInfoDlg> m_ui;
    std::string m_ip6Address;
    SnmpV3Credentials m_v3;
    std::function<std::string()> m_consoleEngineId;
    bool m_v3Changed = false;
    std::string m_name;
    std::string m_nosText;
    std::string m_ipAddress;
    std::string m_ipxAddress;
    std::string m_community;
};

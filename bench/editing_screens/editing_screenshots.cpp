// Draws the server dialogs, Add Servers over an in-process network, and
// Advanced Options offscreen, each with typical input, and saves them as PNG
// files in the given directory.

#include "bench/support/screenshots.h"
#include "platform/netenum/netenum.h"
#include "snmp/snmp.h"
#include "vardel/editing/add_servers_dialog.h"
#include "vardel/editing/advanced_options_dialog.h"
#include "vardel/editing/server_dialogs.h"
#include "vardel/editing/snmpv3_dialog.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <map>

namespace {

template <typename T> T* control(QWidget* root, int id) {
    for (T* widget : root->findChildren<T*>())
        if (widget->property("ctlId").toInt() == id)
            return widget;
    return nullptr;
}

// A small network of fixed names.
class SampleNetwork : public netenum::Provider {
public:
    SampleNetwork(std::string name, std::map<std::string, std::vector<netenum::Resource>> containers)
        : m_name(std::move(name)), m_containers(std::move(containers)) {}
    std::string name() const override { return m_name; }
    netenum::Failure enumerate(const std::string& container, std::vector<netenum::Resource>& out) override {
        const auto found = m_containers.find(container);
        if (found == m_containers.end())
            return netenum::Failure::noSuchContainer;
        out = found->second;
        return netenum::Failure::none;
    }

private:
    std::string m_name;
    std::map<std::string, std::vector<netenum::Resource>> m_containers;
};

netenum::Resource group(const char* name) {
    return {name, "", netenum::RESOURCEDISPLAYTYPE_DOMAIN, netenum::RESOURCEUSAGE_CONTAINER};
}
netenum::Resource server(const char* name) {
    return {std::string("\\\\") + name, "", netenum::RESOURCEDISPLAYTYPE_SERVER,
            netenum::RESOURCEUSAGE_CONTAINER};
}

QTreeWidgetItem* child(QTreeWidgetItem* parent, const char* text) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == QLatin1String(text))
            return parent->child(i);
    return nullptr;
}

bool save(QDialog& dialog, const QDir& out, const char* file) {
    dialog.show();
    const bool saved = screenshots::save(dialog, out, file);
    dialog.hide();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<QDir> out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = true;

    CAddServersManuallyDlg manual;
    control<QRadioButton>(&manual, 1019)->setChecked(true);
    control<QPlainTextEdit>(&manual, 1022)->setPlainText("srv-files\nsrv-mail\nsrv-print");
    ok &= save(manual, *out, "add_servers_manually.png");

    netenum::setProviders(
        {std::make_shared<SampleNetwork>(
             "Microsoft Windows Network",
             std::map<std::string, std::vector<netenum::Resource>>{
                 {"", {group("WORKGROUP"), group("SALES")}},
                 {"WORKGROUP",
                  {server("SRV-MAIL"), server("SRV-FILES"), server("SRV-PRINT"), server("SRV-WEB")}},
                 {"SALES", {server("SALES-DB")}}}),
         std::make_shared<SampleNetwork>("NetWare Network",
                                         std::map<std::string, std::vector<netenum::Resource>>{
                                             {"", {server("NW-FILES"), server("NW-MAIL")}}})});
    CAddServersDlg addServers;
    addServers.show();
    control<QPushButton>(&addServers, 1016)->click();
    auto* tree = control<QTreeWidget>(&addServers, 1012);
    QTreeWidgetItem* microsoft = tree->topLevelItem(1);
    microsoft->setExpanded(true);
    QTreeWidgetItem* workgroup = child(microsoft, "WORKGROUP");
    workgroup->setExpanded(true);
    tree->topLevelItem(0)->setExpanded(true);
    for (const char* name : {"SRV-FILES", "SRV-MAIL"}) {
        tree->setCurrentItem(child(workgroup, name));
        control<QPushButton>(&addServers, 1014)->click();
    }
    tree->setCurrentItem(child(tree->topLevelItem(0), "NW-FILES"));
    control<QPushButton>(&addServers, 1014)->click();
    tree->setCurrentItem(child(workgroup, "SRV-PRINT"));
    tree->setFocus();
    ok &= save(addServers, *out, "add_servers.png");

    CEnterIpAddressDlg ip(nullptr, "SRV-MAIL");
    control<QLineEdit>(&ip, 1024)->setText("10.1.1.20");
    ok &= save(ip, *out, "enter_ip_address.png");

    CEnterAddressDlg address(nullptr, "NW-FILES");
    control<QLineEdit>(&address, 1050)->setText("D5533216-000000000001");
    ok &= save(address, *out, "enter_address.png");

    CEditServerInfoDlg edit(nullptr, "SRV-FILES", "NT", "10.1.1.21", "", "public");
    ok &= save(edit, *out, "edit_server_info.png");

    SnmpV3Credentials v3;
    v3.user = "vardel-monitor";
    v3.level = snmpv3::kAuthPriv;
    v3.auth = snmpv3::kAuthSha256;
    v3.priv = snmpv3::kPrivAes;
    v3.engineId = std::string("\x80\x00\x1f\x88\x80\xc7\x11\x00\xa1\xb2\xc3\xd4", 12);
    CSnmpV3Dlg snmpV3(nullptr, "SRV-FILES", v3, [] { return std::string(); });
    ok &= save(snmpV3, *out, "snmpv3.png");

    AdvancedOptions options;
    options.managementServerName = "CORVANTA-MS";
    options.playSound = 1;
    options.soundFile = "newmail.wav";
    options.receiveStandardTraps = 1;
    options.desktopNotifications = 1;
    options.quietHours = 1;
    options.checkTrapCommunity = 1;
    CAdvancedOptionsDlg advanced(nullptr, options);
    ok &= save(advanced, *out, "advanced_options.png");
    return ok ? 0 : 1;
}

// Draws the Configuration tab with a few servers and the About box offscreen
// and saves them as PNG files in the given directory.

#include "bench/support/screenshots.h"
#include "platform/flexgrid/flexgrid.h"
#include "vardel/editing/config_tab.h"

#include <QApplication>

namespace {

std::unique_ptr<ManagedServer> server(const char* name, std::int32_t nos, const char* ip, const char* ipx,
                                      std::int32_t destination) {
    auto s = std::make_unique<ManagedServer>();
    s->name = name;
    s->nosCode = nos;
    s->ipAddress = ip;
    s->ipxAddress = ipx;
    s->alertDestination = destination;
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<QDir> out = screenshots::outputDirectory(argc, argv);
    if (!out)
        return 2;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    ServerList servers;
    servers.push_back(server("SRV-FILES", kNosNT, "10.1.1.21", "", 1));
    servers.push_back(server("NW-PRINT", kNosNetWare, "", "D5533216-000000000001", -1));
    servers.push_back(server("sco-db", kNosSCO, "10.1.1.40", "", 1));
    servers.push_back(server("SRV-MAIL", kNosNT, "10.1.1.20", "", -1));
    ConsoleSettings settings;
    CConfigTab tab(ConfigTabContext{servers, settings, nullptr, nullptr, {}, {}, {}, {}, {}});
    tab.OnInitDialog();
    tab.grid().SetRow(2);
    tab.grid().SetRowSel(2);
    tab.show();
    bool ok = screenshots::save(tab, *out, "configuration_tab.png");

    CAboutDlg about;
    about.show();
    ok &= screenshots::save(about, *out, "about.png");
    return ok ? 0 : 1;
}

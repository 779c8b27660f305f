#include "platform/netenum/netware_provider.h"

#include "platform/ipx/sap.h"

#include <set>
#include <strings.h>

namespace netenum {

namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

} // namespace

std::string NetWareProvider::name() const {
    return "NetWare Network";
}

Failure NetWareProvider::enumerate(const std::string& container, std::vector<Resource>& out) {
    if (!container.empty())
        return Failure::noSuchContainer;
    std::vector<Resource> servers;
    std::set<std::string, CaseInsensitiveLess> seen; // every answer to both queries lists them again
    const auto found = [&](const ipx::sap::Service& s) {
        if (seen.insert(s.name).second)
            servers.push_back({"\\\\" + s.name, "", RESOURCEDISPLAYTYPE_SERVER, RESOURCEUSAGE_CONTAINER});
        return true;
    };
    if (ipx::sap::generalQuery(ipx::sap::kFileServer, 2, m_wait, found) != 0)
        return Failure::noNetwork;
    out = std::move(servers);
    return Failure::none;
}

} // namespace netenum

#include "vardel/store/server_list_edits.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

ManagedServer* FindServer(const ServerList& servers, const std::string& name) {
    return FindServerByName(servers, name);
}

int AddServerIfNew(ServerList& servers, std::unique_ptr<ManagedServer>& server) {
    if (!server || FindServer(servers, server->name))
        return -1;
    servers.push_back(std::move(server));
    return 0;
}

void RemoveServer(ServerList& servers, const std::string& name) {
    const auto it = std::find_if(servers.begin(), servers.end(),
                                 [&](const std::unique_ptr<ManagedServer>& s) { return s->name == name; });
    if (it != servers.end())
        servers.erase(it);
}

ManagedServer* UpdateServer(ServerList& servers, const std::string& name, const std::string& nosText,
                            const std::string& ipAddress, const std::string& ipxAddress,
                            const std::string& community) {
    ManagedServer* server = FindServer(servers, name);
    if (!server)
        return nullptr;
    if (ipAddress != server->ipAddress || ipxAddress != server->ipxAddress)
        server->pollPending = 0;
    server->ipAddress = ipAddress;
    server->ipxAddress = ipxAddress;
    server->community = community;
    server->nosText = nosText;
    if (const std::int32_t code = NosCodeFromText(nosText); code != kNosNone)
        server->nosCode = code;
    return server;
}

ManagedServer* UpdateServer(ServerList& servers, const std::string& name, const std::string& nosText,
                            const std::string& ipAddress, const std::string& ipxAddress,
                            const std::string& ip6Address, const std::string& community) {
    ManagedServer* server = FindServer(servers, name);
    if (!server)
        return nullptr;
    const auto polled = [server] {
        return ServerIpAddress(*server).empty() ? server->ipxAddress : ServerIpAddress(*server);
    };
    const std::string before = polled();
    UpdateServer(servers, name, nosText, ipAddress, ipxAddress, community);
    server->ip6Address = ip6Address;
    if (polled() != before)
        server->pollPending = 0;
    return server;
}

std::vector<ManagedServer*> AddServersIfNew(ServerList& servers,
                                            std::list<std::unique_ptr<ManagedServer>>& fresh) {
    std::unordered_set<std::string> listed;
    listed.reserve(servers.size() + fresh.size());
    for (const auto& server : servers)
        listed.insert(server->name);
    std::vector<ManagedServer*> added;
    for (auto& server : fresh) {
        if (!server || !listed.insert(server->name).second)
            continue;
        added.push_back(server.get());
        servers.push_back(std::move(server));
    }
    return added;
}

void RemoveServers(ServerList& servers, const std::vector<std::string>& names) {
    // How many times each name is to go: each time its first server left.
    std::unordered_map<std::string, std::size_t> pending;
    for (const std::string& name : names)
        ++pending[name];
    for (auto it = servers.begin(); it != servers.end() && !pending.empty();) {
        auto wanted = pending.find((*it)->name);
        if (wanted == pending.end()) {
            ++it;
            continue;
        }
        it = servers.erase(it);
        if (--wanted->second == 0)
            pending.erase(wanted);
    }
}

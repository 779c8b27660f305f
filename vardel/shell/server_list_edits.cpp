#include "server_list_edits.h"

#include <algorithm>

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

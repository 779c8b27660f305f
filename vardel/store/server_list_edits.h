#pragma once
// The edits of the server list made by the Configuration tab. Names compare
// exactly and case-sensitively; the first match in list order wins.

#include "vardel/store/config_store.h"

#include <list>
#include <memory>
#include <string>
#include <vector>

// The first server with that name, or nullptr.
ManagedServer* FindServer(const ServerList& servers, const std::string& name);

// Appends server (the list takes it) unless a server of the same name is
// listed: then -1, the list unchanged and server left with the caller.
int AddServerIfNew(ServerList& servers, std::unique_ptr<ManagedServer>& server);

// Removes and destroys the first server with that name; nothing if none.
void RemoveServer(ServerList& servers, const std::string& name);

// The first server with that name gets the new values: its poll-pending flag
// is cleared when its IP address, or else its IPX address, changes; nosCode
// follows nosText when that is one of the three known texts. Returns the
// server, or nullptr when no server has that name.
ManagedServer* UpdateServer(ServerList& servers, const std::string& name, const std::string& nosText,
                            const std::string& ipAddress, const std::string& ipxAddress,
                            const std::string& community);

// The same with the server's IPv6 address, which counts as its IP address
// when it has no IPv4 address.
ManagedServer* UpdateServer(ServerList& servers, const std::string& name, const std::string& nosText,
                            const std::string& ipAddress, const std::string& ipxAddress,
                            const std::string& ip6Address, const std::string& community);

// AddServerIfNew for each server of fresh in turn, in one pass over the list.
// Returns the servers added, in order; the refused ones stay in fresh.
std::vector<ManagedServer*> AddServersIfNew(ServerList& servers,
                                            std::list<std::unique_ptr<ManagedServer>>& fresh);

// RemoveServer for each name in turn, in one pass over the list.
void RemoveServers(ServerList& servers, const std::vector<std::string>& names);

#pragma once
// Records and configuration store: the managed servers, the console's
// settings, and their INI and registry forms.

#include <list>
#include <memory>
#include <string>

#include "managed_server.h"
#include "console_settings.h"

namespace profile {
class Document;
}

using ServerList = std::list<std::unique_ptr<ManagedServer>>;

// Key names of [SERVERS] of iniPath (buffer [ServerInfo] NumServers x 50) or of
// [EnterpriseList] (buffer [Header] TotalNum x 100), each inserted at the head
// of list. 0 read, 1000 nothing to read, -1 buffer not allocated.
int _FillListFromIni(const std::string& iniPath, std::list<std::string>& list, const std::string& section);

#pragma once
// Records and configuration store: the console's INI file rlaweb.ini, the
// registry key, and the look-ups and setters of the server list.

#include "vardel/store/console_settings.h"
#include "vardel/store/managed_server.h"

#include <list>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace profile {
class Document;
}

using ServerList = std::list<std::unique_ptr<ManagedServer>>;

// Key names of [SERVERS] of iniPath (every one, whatever [ServerInfo]
// NumServers says) or of [EnterpriseList] (buffer [Header] TotalNum x 100),
// each inserted at the head of list. 0 read; 1000 nothing to read (another
// section, no name in [SERVERS], a TotalNum missing, 0 or negative); -1 out
// of memory, after a box.
int _FillListFromIni(const std::string& iniPath, std::list<std::string>& list, const std::string& section);
// The same without any box, for threads that must not wait on the user.
int ReadKeyList(const std::string& iniPath, std::list<std::string>& list, const std::string& section);

// A name the console file can hold as a key and as a section name.
bool IsValidServerName(const std::string& name);

// rlaweb.ini. The document forms let OK collect every write in one atomic save.
// Loads every server of [SERVERS]; when [ServerInfo] NumServers disagrees the
// user is told once (an OK box).
int LoadServerList(const std::string& iniPath, const std::string& clientSection, ServerList& servers);
// The names of [SERVERS] in iniPath, in file order, that are neither in
// servers nor in loaded (the names loaded at start-up, which the user may have
// removed since): what a save would lose that nobody removed.
std::vector<std::string> ServersNotLoaded(const std::string& iniPath, const ServerList& servers,
                                          const std::set<std::string>& loaded);
// Deletes [SERVERS], the sections it names and [ServerInfo] NumServers; -1, with
// nothing deleted, when the key list cannot be read (out of memory).
int ClearServerSections(profile::Document& doc);
void SaveServerList(profile::Document& doc, const std::string& clientSection, ServerList& servers);
void SavePollingSettings(profile::Document& doc, const ConsoleSettings& settings);
// [VDINFO] RETRY, POLLTIME, TIMEOUT with their defaults for missing or 0.
void ReadPollingSettings(const std::string& iniPath, ConsoleSettings& settings);
// ClearServerSections, SaveServerList, SavePollingSettings as one replacement of
// the file; false when it could not be written.
bool SaveConsoleIni(const ConsoleSettings& settings, ServerList& servers);

// Registry readers, one per value: each sets its field (default on failure)
// and returns 0 when the value was read, -1 otherwise.
int ReadRegistryName(const std::string& regPath, ConsoleSettings& settings);
int ReadRegistrySoundFile(const std::string& regPath, ConsoleSettings& settings);
int ReadRegistryPort(const std::string& regPath, ConsoleSettings& settings);
int ReadRegistrySsl(const std::string& regPath, ConsoleSettings& settings);
int ReadRegistryDhcp(const std::string& regPath, ConsoleSettings& settings);
int ReadRegistrySound(const std::string& regPath, ConsoleSettings& settings);
// MaxAlerts: a decimal number from 1; otherwise the default ceiling.
int ReadRegistryAlertCeiling(const std::string& regPath, ConsoleSettings& settings);
// StandardTraps and UnclassifiedTraps: "1" sets them; otherwise 0.
int ReadRegistryTrapReceptions(const std::string& regPath, ConsoleSettings& settings);
// DesktopNotifications: "1" switches them on; anything else or none, off.
int ReadRegistryDesktopNotifications(const std::string& regPath, ConsoleSettings& settings);
// All six in the order Name, SoundFile, Port, SSL, DHCP, SOUND.
// QuietHours, QuietHoursStart, QuietHoursEnd; Flapping, FlappingChanges,
// FlappingMinutes. A value that does not read leaves its default.
int ReadRegistryQuietHours(const std::string& regPath, ConsoleSettings& settings);
int ReadRegistryFlapping(const std::string& regPath, ConsoleSettings& settings);
void ReadRegistrySettings(const std::string& regPath, ConsoleSettings& settings);
void SaveRegistrySettings(const std::string& regPath, const ConsoleSettings& settings);

// Server list look-ups and setters: list order, first match wins; names
// compare exactly, addresses without regard to case.
int FindServerNameByAddress(const ServerList& servers, const std::string& address, std::string& name);
ManagedServer* FindServerByName(const ServerList& servers, const std::string& name);
int GetSnmpStatus(const ServerList& servers, const std::string& name, std::string& status);
void SetSnmpStatus(ServerList& servers, const std::string& name, const std::string& status);
void GetNetworkStatus(const ServerList& servers, const std::string& name, std::string& status);
void SetNetworkStatus(ServerList& servers, const std::string& name, const std::string& status);
void SetPollPending(ServerList& servers, const std::string& name, int value);
void CollectServerNamesBySnmpStatus(const ServerList& servers, std::list<std::string>& names,
                                    const std::string& status);

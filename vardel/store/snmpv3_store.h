#pragma once
// The servers' SNMPv3 users, kept beside rlaweb.ini in a file of their own
// (so that the list the management server shares keeps its format), readable
// by the console's group only, holding keys rather than pass phrases: keys
// localized for the agent's engine once it is known, the master keys until
// then; and the console's own engine ID, kept across runs. Neither file is
// written by a console that has no SNMPv3 user.

#include "vardel/store/config_store.h"
#include "vardel/store/managed_server.h"

#include <string>

class SnmpTarget;

inline constexpr const char* kV3CredentialsFile = "rlaweb-v3.ini";
inline constexpr const char* kEngineIdFile = "vardel-engine.id";

// Reads the users of programDir's credentials file into the servers of that
// name. 0 when read or when there is no file; -1 when the file is there but
// cannot be read or is malformed (reason says why; nothing is changed).
int LoadV3Credentials(const std::string& programDir, ServerList& servers, std::string& reason);

// Writes the file whole (a temporary file of mode 0640 renamed over it) when a
// server has a user or the file exists. 0, or -1 with the reason.
int SaveV3Credentials(const std::string& programDir, const ServerList& servers, std::string& reason);

// The console's engine ID (raw octets) from programDir, made and written
// there when missing. Empty on failure, with the reason.
std::string ConsoleEngineId(const std::string& programDir, std::string& reason);

// Fills the keys of c from its pass phrases: localized for c.engineId when
// known (else the master keys), and for the console's engine. False when a
// phrase is refused (fewer than 8 characters).
bool MakeV3Keys(SnmpV3Credentials& c, const std::string& authPhrase, const std::string& privPhrase,
                const std::string& consoleEngineId);

// Turns SNMPv3 on with the console's engine (once) and gives the layer every
// user of the list: for its agent's engine, for the console's, or as master
// keys to localize when the agent's engine is discovered. The console's engine
// has one user of a name: in a list, the first server with that user name
// gives its keys for informs; the one-server form replaces them.
void ApplyV3Credentials(const ServerList& servers, const std::string& consoleEngineId);
void ApplyV3Credentials(const ManagedServer& server, const std::string& consoleEngineId);

// Servers whose engine a poll discovered take it, their master keys replaced
// by localized ones. True when one changed.
bool AdoptLearntEngines(ServerList& servers);

// A target over v3 when the server has a user.
void ApplyV3Target(const ManagedServer& server, SnmpTarget& target);
void ApplyV3Target(const SnmpV3Credentials& credentials, SnmpTarget& target);

// The text of an SNMPv3 refusal or a time-out (snmp.h results); empty for others.
std::string SnmpRefusalText(int status);

#pragma once
// Writing the console's own address into a managed server's agent as its
// alert (trap) destination: one SNMP SET, whose outcome is the server's
// alertDestination (1 set, -1 not set).

#include "vardel/store/managed_server.h"

#include <functional>
#include <string>
#include <vector>

inline constexpr const char* kAlertDestinationOid = "1.3.6.1.4.1.32473.2.23.13.3.2.0";

// The text written: the console's host name to an NT server while the console
// uses DHCP; otherwise its IP address text to a server reached by IP, its
// own IPv6 address towards a server reached by IPv6 (no IPv4 address; empty
// when there is no route to it), its IPX address text to one reached by IPX.
std::string AlertDestinationValue(const ManagedServer& server, const std::string& consoleIp,
                                  const std::string& consoleIpx, const std::string& hostName, int useDhcp);

// The console's IP address for the server's traps: its IPv6 address towards
// an IPv6-only server, else consoleIp.
std::string ConsoleIpAddressFor(const ManagedServer& server, const std::string& consoleIp);

// Why a SET of the destination with this SNMP status left it not set: no
// answer, no such object, not writable, refused (with the error status), or
// not sent. Empty for status 0.
std::string AlertDestinationReason(int status);

// Sets the alert destination on one server with the wait cursor on. The SET
// runs on a worker thread with a session of its own (3 retries of 8 seconds);
// meanwhile the event loop keeps running, user input held back. With
// standardTargets, an agent reached by IP that has no writable destination
// object gets the console's rows of its standard target tables instead
// (target_mib.h), named after the host name and holding ConsoleIpAddressFor;
// set once they read back.
void SetAlertDestination(ManagedServer& server, const std::string& consoleIp, const std::string& consoleIpx,
                         const std::string& hostName, int useDhcp, bool standardTargets = false);

// The same for several servers, their SETs outstanding together. Each outcome
// is recorded in its server on this thread as it arrives (a failure also
// with its status, and its reason on standard error), and applied(server) is
// called then. Returns when every outcome is in.
void SetAlertDestinations(const std::vector<ManagedServer*>& servers, const std::string& consoleIp,
                          const std::string& consoleIpx, const std::string& hostName, int useDhcp,
                          const std::function<void(ManagedServer&)>& applied = {},
                          bool standardTargets = false);

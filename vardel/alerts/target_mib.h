#pragma once
// The console as a notification destination of a stock agent, written the
// standard way (RFC 3413): one row each of snmpTargetAddrTable,
// snmpTargetParamsTable and snmpNotifyTable, all three indexed by a name of
// the console's own, so that every console keeps rows of its own and
// rewriting them touches no other console's.

#include <cstdint>
#include <string>

class Snmp;
class SnmpTarget;

inline constexpr const char* kSnmpTargetAddrEntry = "1.3.6.1.6.3.12.1.2.1";
inline constexpr const char* kSnmpTargetParamsEntry = "1.3.6.1.6.3.12.1.3.1";
inline constexpr const char* kSnmpNotifyEntry = "1.3.6.1.6.3.13.1.1.1";

// Results beside the SNMP statuses of snmp.h.
enum TargetRowsResult : int {
    kTargetRowsNotKept = -60,   // the rows read back are not the rows written
    kTargetRowsNoAddress = -61, // the console's address is neither IPv4 nor IPv6
};

// True for an SNMP status that says the agent has no writable private
// destination object (noSuchName, readOnly, noAccess, noCreation,
// authorizationError, notWritable): the standard rows are worth a try.
bool PrivateDestinationMissing(int status);

// The rows' index: "vardel-" and the console's host name (its address when it
// has none), lower case, characters other than letters, digits, '.', '_' and
// '-' as '-', at most 32 octets.
std::string TrapTargetName(const std::string& hostName, const std::string& consoleAddress);

// Replaces the agent's rows of name (destroyed when present, then created with
// createAndGo, kept non-volatile) by rows sending traps to consoleAddress:port
// (dotted IPv4: snmpUDPDomain; IPv6: transportDomainUdpIpv6), then reads them
// back. They are written through target and say how the agent is to send:
// SNMPv3 with its user and level, else SNMPv2c with its write community.
// Blocks; 0 when the rows read back as written, else an SNMP status (snmp.h)
// or a TargetRowsResult.
int WriteTrapTargetRows(Snmp& snmp, const SnmpTarget& target, const std::string& name,
                        const std::string& consoleAddress, std::uint16_t port = 162);

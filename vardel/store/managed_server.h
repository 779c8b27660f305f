#pragma once
// One managed server of the console's server list.

#include <cstdint>
#include <ctime>
#include <string>

enum NosCode : std::int32_t { kNosNone = 0, kNosNetWare = 5, kNosNT = 10, kNosSCO = 15 };

// A server's SNMPv3 user (snmp.h snmpv3 levels and protocols), kept in the
// credentials file beside rlaweb.ini (snmpv3_store.h), never in it. Keys are
// raw octets.
struct SnmpV3Credentials {
    std::string user; // empty: the server has none
    std::int32_t level = 3;
    std::int32_t auth = 0;
    std::int32_t priv = 0;
    std::string engineId;                       // typed or learnt; empty until then
    std::string authKey, privKey;               // localized for engineId
    std::string consoleAuthKey, consolePrivKey; // localized for the console's engine (informs)
    std::string authMaster, privMaster;         // kept only while engineId is unknown
    bool v3Only = false;                        // its v1/v2c traps are dropped
    bool configured() const { return !user.empty(); }
};

struct ManagedServer {
    std::string name;
    std::int32_t nosCode = kNosNone;
    std::int32_t outstandingAlerts = 0;
    std::int32_t pollPending = 0;
    std::string snmpStatus = "INIT";
    std::string networkStatus = "INIT";
    std::string nosText;
    std::string ipAddress;
    std::string ipxAddress;
    // IPv6 address text; may be empty. Kept in rlaweb.ini as the key IP6 of
    // the server's section, written only when not empty.
    std::string ip6Address;
    std::string community = "public";
    std::int32_t alertDestination = -1;
    // The SNMP status of this run's last SET of the destination: 0 when it
    // was written or not tried (alert_destination.h gives the reason).
    std::int32_t alertDestinationStatus = 0;
    // This run's poll detail: when the agent or the host last answered (0:
    // not yet), and why the last poll failed, with when (empty: none has).
    std::time_t lastAnswer = 0;
    std::string lastFailure;
    std::time_t lastFailureTime = 0;
    SnmpV3Credentials v3;
    // Run time: the SNMPv3 refusal of the last poll (snmp.h), 0 when none.
    std::int32_t snmpRefusal = 0;
};

// The IP address the console reaches the server by: its IPv4 address, else
// its IPv6 address; empty for a server reached by IPX only.
const std::string& ServerIpAddress(const ManagedServer& server);
// True when text is an IPv6 address (no zone).
bool IsIp6Address(const std::string& text);
// An address text as it is compared: an IPv6 address in its canonical form,
// any other text in lower case. Equal keys, equal addresses.
std::string AddressKey(const std::string& text);
bool SameAddress(const std::string& a, const std::string& b);

// "NetWare" 5, "NT" 10, "SCO" 15; any other text 0.
std::int32_t NosCodeFromText(const std::string& text);
// The text of codes 5, 10 and 15; nullptr for any other code.
const char* NosTextFromCode(std::int32_t code);

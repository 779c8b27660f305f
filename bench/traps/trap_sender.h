#pragma once
// The sending side of the trap burst benchmarks.

#include <string>

// Sends count v1 traps (enterprise 1.3.6.1.4.1.9999, specific trap 1..1000 in
// turn, one OCTET STRING binding) from one Net-SNMP session to
// 127.0.0.1:162, at full speed, or at rate traps per second when rate > 0;
// sent counts those that left. Returns the seconds it took.
double sendBurst(int count, int& sent, double rate = 0);

// A burst of SNMPv2c or SNMPv3 traps (the same traps as notifications
// 1.3.6.1.4.1.9999.0.N) sent by a child process, which has Net-SNMP's state
// to itself: forked before the parent starts threads or Net-SNMP, it sends
// when started.
struct ChildBurst {
    int pid = -1;
    int startFd = -1;
    int resultFd = -1;
};
// v3: authPriv, SHA-256 and AES-128, user kBenchUser of engine kBenchEngine
// (hexadecimal) with the two pass phrases below.
ChildBurst forkSender(int count, double rate, bool v3);
// Starts the child's burst and waits for it; sent as in sendBurst.
double runChildBurst(ChildBurst& child, int& sent);
inline constexpr const char* kBenchUser = "benchuser";
inline constexpr const char* kBenchEngine = "8000e7f303beac6801";
inline constexpr const char* kBenchAuthPhrase = "benchauth123";
inline constexpr const char* kBenchPrivPhrase = "benchpriv123";

// The number of distinct specific traps sendBurst uses.
inline constexpr int kTrapKinds = 1000;

// A new program directory under /tmp (its path ends in /) with the
// definitions of the burst's traps and one server, SRV1 at 127.0.0.1.
std::string makeBurstProgramDir();

// Lines of the file at path that start with prefix.
int countLinesStartingWith(const std::string& path, const std::string& prefix);

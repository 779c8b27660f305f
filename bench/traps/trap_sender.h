#pragma once
// The sending side of the trap burst benchmarks.

#include <string>

// Sends count v1 traps (enterprise 1.3.6.1.4.1.9999, specific trap 1..1000 in
// turn, one OCTET STRING binding) from one Net-SNMP session to
// 127.0.0.1:162, at full speed, or at rate traps per second when rate > 0;
// sent counts those that left. Returns the seconds it took.
double sendBurst(int count, int& sent, double rate = 0);

// The number of distinct specific traps sendBurst uses.
inline constexpr int kTrapKinds = 1000;

// Lines of the file at path that start with prefix.
int countLinesStartingWith(const std::string& path, const std::string& prefix);

#pragma once

#include <string>
// The sending side of the trap burst benchmarks.

// Sends count v1 traps (enterprise 1.3.6.1.4.1.9999, specific 1..count, one
// OCTET STRING binding) from one Net-SNMP session to 127.0.0.1:162; sent
// counts those that left. Returns the seconds it took.
double sendBurst(int count, int& sent);

// Lines of the file at path that start with prefix.
int countLinesStartingWith(const std::string& path, const std::string& prefix);

#pragma once
// A host address library that answers with a fixed identity, for tests and
// benchmarks that start a console without asking the machine who it is.

#include "vardel/shell/vardel_tabs.h"

#include <cstdio>
#include <string>

namespace fixedhost {

inline std::string name = "CONSOLE1";
inline std::string ip = "10.1.1.5";

inline int init() {
    return 0;
}
inline int failingInit() {
    return 101;
}
inline int hostName(char* buffer) {
    std::snprintf(buffer, 200, "%s", name.c_str());
    return 0;
}
inline int ipAddress(char* buffer) {
    std::snprintf(buffer, 16, "%s", ip.c_str());
    return 0;
}
inline int noIpx(char*) {
    return 1005;
}

// name and ip as set above, no IPX.
inline HostLibrary library() {
    return {init, hostName, ipAddress, noIpx};
}

// A console in programDirectory at 127.0.0.1, without its trap listener: what
// the benchmarks run against a local snmpd.
inline StartupOptions quietConsoleAtLoopback(const std::string& programDirectory) {
    StartupOptions options;
    options.programDirectory = programDirectory;
    ip = "127.0.0.1";
    options.host = library();
    options.startTrapListener = false;
    return options;
}

} // namespace fixedhost

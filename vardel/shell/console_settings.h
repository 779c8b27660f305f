#pragma once
// The console's settings and identity.

#include <cstdint>
#include <string>

struct ConsoleSettings {
    // Registry.
    std::string managementServerName;
    std::uint32_t port = 80;
    std::uint8_t useSsl = 0;
    std::uint8_t useDhcp = 0;
    std::uint8_t playSound = 0;
    std::string soundFile;
    // rlaweb.ini [VDINFO].
    std::int32_t retry = 7;
    std::int32_t pollTime = 3;
    std::uint32_t timeout = 800;
    // Run time.
    std::string startupServerName;
    std::string userName;
    std::string password;
    std::uint8_t readOnly = 0;
    std::string hostName;
    std::string hostIpAddress;
    std::string hostIpxAddress;
    std::string clientSection;
    std::string programDirectory;
    std::string iniPath;
    std::string logPath;
    std::string browserPath;
    std::string lastPollTime;
};

#pragma once
// The console's settings and identity.

#include <cstdint>
#include <string>

// Outstanding alerts kept in memory unless the registry says otherwise.
inline constexpr std::int32_t kDefaultAlertCeiling = 1000000;

struct ConsoleSettings {
    // Registry.
    std::string managementServerName;
    std::uint32_t port = 80;
    std::uint8_t useSsl = 0;
    std::uint8_t useDhcp = 0;
    std::uint8_t playSound = 0;
    std::string soundFile;
    // Value MaxAlerts, present only when set to another value than the default.
    std::int32_t alertCeiling = kDefaultAlertCeiling;
    // Values StandardTraps and UnclassifiedTraps ("1"), likewise present only
    // once set: "Receive standard traps", "Show unclassified traps".
    std::uint8_t receiveStandardTraps = 0;
    std::uint8_t showUnclassifiedTraps = 0;
    // Value DesktopNotifications ("1"), present only when switched on: every
    // alert also goes to the desktop's notification service.
    std::uint8_t desktopNotifications = 0;
    // Values QuietHours ("1"), QuietHoursStart and QuietHoursEnd ("HH:MM"),
    // present only once set: a daily period without sounds, in which only
    // critical alerts pop up and notify.
    std::uint8_t quietHours = 0;
    std::string quietHoursStart = "22:00";
    std::string quietHoursEnd = "07:00";
    // Values Flapping ("1"), FlappingChanges and FlappingMinutes, present only
    // once set: more than that many changes of a server's state within that
    // many minutes raise one flapping alert.
    std::uint8_t flapping = 0;
    std::int32_t flappingChanges = 4;
    std::int32_t flappingMinutes = 15;
    // Value TrapCommunityCheck ("1"), present only once set: a v1/v2c trap
    // whose community is not its server's is counted and dropped.
    std::uint8_t checkTrapCommunity = 0;
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

#pragma once
// One received or generated alert.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Field widths in bytes, terminating NUL included; texts are cut to width - 1.
namespace alert_width {
inline constexpr std::size_t kEnterprise = 1024;
inline constexpr std::size_t kTrapKey = 516;
// Wider than a dotted IPv4 text needs: an IPv6 sender's text takes up to 45.
inline constexpr std::size_t kAgentAddress = 64;
inline constexpr std::size_t kBindingOid = 100;
inline constexpr std::size_t kBindingValue = 512;
inline constexpr std::size_t kServerName = 512;
inline constexpr std::size_t kDescription = 512;
inline constexpr std::size_t kAlertText = 512;
inline constexpr std::size_t kHelpFile = 1024;
} // namespace alert_width

// Cuts text to a field of the given width (NUL included).
inline std::string fitField(std::string text, std::size_t width) {
    if (width == 0)
        return {};
    if (text.size() > width - 1)
        text.resize(width - 1);
    return text;
}

enum AlertOrigin : std::int16_t { kOriginStateChange = 0, kOriginTrap = 1000 };

enum AlertSeverity : std::int16_t {
    kSeverityUnclassified = 0,
    kSeverityCritical = 146,
    kSeverityWarning = 148,
    kSeverityInformational = 149,
    kSeverityNormal = 150,
};

struct AlertBinding {
    std::string oid;
    std::string value;
    std::int32_t syntax = 0;
};

inline constexpr int kMaxBindings = 10;

// How the listener took a trap in: through a listed enterprise, as a standard
// trap (STANDARD.INI), or without any definition (its texts made from the
// trap itself).
enum TrapReception : std::uint8_t {
    kReceptionDefined = 0,
    kReceptionStandard = 1,
    kReceptionUnclassified = 2
};

// The ways a new alert is made noticeable: its sound, the notify window
// popping up with it, the desktop notification.
inline constexpr std::uint8_t kNoticeNone = 0;
inline constexpr std::uint8_t kNoticeSound = 1;
inline constexpr std::uint8_t kNoticePopUp = 2;
inline constexpr std::uint8_t kNoticeDesktop = 4;
inline constexpr std::uint8_t kNoticeAll = 7;

struct AlertRecord {
    std::int16_t origin = kOriginStateChange;
    std::string dateTime;
    std::int16_t severity = kSeverityUnclassified;
    std::int32_t launchAllowed = 1;
    std::uint8_t snmpVersion = 0;
    std::uint8_t addressType = 0;
    std::uint8_t reception = kReceptionDefined; // in the padding before bindingCount
    std::int32_t bindingCount = 0;
    std::string enterprise;
    std::string trapKey;
    std::string agentAddress;
    std::vector<AlertBinding> bindings; // the bindingCount kept, in PDU order
    std::string serverName;
    std::string description;
    std::string alertText;
    std::int32_t helpId = 0;
    std::string helpFile;
    std::int32_t sequence = 0;
    std::int32_t playSound = 0;
    std::string soundFile;
    // Given by the store, 1, 2, ... in the order alerts are stored; unlike
    // sequence it never changes.
    std::uint64_t alertId = 0;
    // Acknowledged: by whom (the user name) and when. The alert stays stored
    // and logged but no longer counts as outstanding.
    bool acknowledged = false;
    std::string acknowledgedBy;
    std::string acknowledgedAt; // "%B %d, %Y, %H:%M:%S"
    std::time_t acknowledgedTime = 0;
    // The kNotice* ways it was made noticeable when stored (snooze, quiet
    // hours and flapping hold some back).
    std::uint8_t notice = kNoticeAll;
    // The community a v1/v2c trap carried (never logged nor shown).
    std::string community;
};

#pragma once
// One received or generated alert.

#include <cstdint>
#include <string>
#include <vector>

// Field widths in bytes, terminating NUL included; texts are cut to width - 1.
namespace alert_width {
inline constexpr std::size_t kEnterprise = 1024;
inline constexpr std::size_t kTrapKey = 516;
inline constexpr std::size_t kAgentAddress = 40;
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
    // The community a v1/v2c trap carried (never logged nor shown).
    std::string community;
};

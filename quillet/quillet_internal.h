#pragma once
// Pure pieces of the IPX diagnostic echo library, shared by its source and its
// tests. Not part of the library's interface.

#include <cmath>

namespace quillet_internal {

// One wait, whole seconds and microseconds.
struct Wait {
    long sec;
    long usec;
    friend bool operator==(const Wait&, const Wait&) = default;
};

// The wait of every step from the wait value in seconds: below 1, no seconds
// and the value in microseconds; otherwise the whole seconds, at most 3, and
// the fractional part in microseconds (kept as computed when the seconds are
// limited). Microseconds are truncated.
inline Wait waitFor(float wait) {
    if (wait < 1.0f)
        return {0, static_cast<long>(static_cast<double>(wait) * 1000000.0)};
    const double whole = std::trunc(static_cast<double>(wait));
    const long usec = static_cast<long>((static_cast<double>(wait) - whole) * 1000000.0);
    return {whole > 3.0 ? 3 : static_cast<long>(whole), usec};
}

// Address text accepted by the probe: 8 and 12 hex digits around one
// separator character of any kind; what follows them is ignored.
inline bool isAddressText(const char* text) {
    if (!text)
        return false;
    for (int i = 0; i < 21; ++i) {
        const char c = text[i];
        if (c == '\0')
            return false;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (i != 8 && !hex)
            return false;
    }
    return true;
}

} // namespace quillet_internal

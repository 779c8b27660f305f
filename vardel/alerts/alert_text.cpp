#include "alert_text.h"

#include <algorithm>

std::int16_t SeverityFromKeyword(const std::string& keyword) {
    if (keyword == "INFORMATIONAL")
        return kSeverityInformational;
    if (keyword == "NORMAL")
        return kSeverityNormal;
    if (keyword == "WARNING")
        return kSeverityWarning;
    if (keyword == "CRITICAL")
        return kSeverityCritical;
    return kSeverityUnclassified;
}

const char* SeverityWord(int severity) {
    switch (severity) {
    case kSeverityCritical:
        return "Critical";
    case kSeverityWarning:
        return "Warning";
    case kSeverityInformational:
        return "Informational";
    case kSeverityNormal:
        return "Normal";
    default:
        return "Unknown";
    }
}

namespace {
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
} // namespace

std::string ExpandAlertText(const std::string& text, const AlertRecord& record) {
    const int kept = std::min<int>(
        {std::max<int>(record.bindingCount, 0), kMaxBindings, static_cast<int>(record.bindings.size())});
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '%' || i + 1 >= text.size() || !isDigit(text[i + 1])) {
            out += text[i++];
            continue;
        }
        // The whole run of digits is the reference; saturate so that a long
        // run cannot overflow.
        std::size_t j = i + 1;
        long n = 0;
        while (j < text.size() && isDigit(text[j])) {
            if (n <= kMaxBindings)
                n = n * 10 + (text[j] - '0');
            ++j;
        }
        if (n >= 1 && n <= kept)
            out += record.bindings[n - 1].value;
        i = j;
        if (out.size() >= alert_width::kAlertText)
            break;
    }
    return fitField(std::move(out), alert_width::kAlertText);
}

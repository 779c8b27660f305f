#include "vardel/alerts/alert_text.h"

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

// The value of the first kept binding at or below one of the OIDs of list
// ("A|B"), tried in order; nullptr when none is.
const std::string* bindingAt(const std::string& list, const AlertRecord& record, int kept) {
    std::size_t begin = 0;
    while (begin <= list.size()) {
        const std::size_t end = std::min(list.find('|', begin), list.size());
        const std::string oid = list.substr(begin, end - begin);
        for (int i = 0; i < kept && !oid.empty(); ++i) {
            const std::string& b = record.bindings[static_cast<std::size_t>(i)].oid;
            if (b == oid ||
                (b.size() > oid.size() && b.compare(0, oid.size(), oid) == 0 && b[oid.size()] == '.'))
                return &record.bindings[static_cast<std::size_t>(i)].value;
        }
        begin = end + 1;
    }
    return nullptr;
}
} // namespace

std::string ExpandAlertText(const std::string& text, const AlertRecord& record, bool objectReferences) {
    const int kept = std::min<int>(
        {std::max<int>(record.bindingCount, 0), kMaxBindings, static_cast<int>(record.bindings.size())});
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (objectReferences && text[i] == '%' && i + 1 < text.size() && text[i + 1] == '{') {
            const std::size_t close = text.find('}', i + 2);
            if (close != std::string::npos) {
                if (const std::string* value = bindingAt(text.substr(i + 2, close - i - 2), record, kept))
                    out += *value;
                i = close + 1;
                if (out.size() >= alert_width::kAlertText)
                    break;
                continue;
            }
        }
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

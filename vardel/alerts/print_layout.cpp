#include "vardel/alerts/print_layout.h"

#include "vardel/resources/string_table.h"

namespace {

constexpr std::size_t kLineChars = 65;
constexpr int kLeft = 100;
constexpr int kLineStep = 100;

bool startsCharacter(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
}

} // namespace

std::vector<std::string> WrapPrintText(const std::string& text) {
    std::vector<std::string> lines;
    std::string piece;
    std::size_t chars = 0;
    for (char c : text) {
        if (startsCharacter(c)) {
            if (chars == kLineChars) {
                lines.push_back(std::move(piece));
                piece.clear();
                chars = 0;
            }
            ++chars;
        }
        piece += c;
    }
    if (!piece.empty() || lines.empty())
        lines.push_back(std::move(piece));
    return lines;
}

std::vector<PrintLine> LayoutAlertPrint(const AlertRecord& alert) {
    std::vector<PrintLine> out = {
        {1500, 100, LoadString(IDS_PRINT_HEADING)},
        {kLeft, 300, LoadString(IDS_SERVER_NAME)},
        {kLeft, 400, alert.serverName},
        {kLeft, 600, LoadString(IDS_DATE_AND_TIME)},
        {kLeft, 700, alert.dateTime},
        {kLeft, 900, LoadString(IDS_DESCRIPTION)},
    };
    int y = 1000;
    for (auto& line : WrapPrintText(alert.description)) {
        out.push_back({kLeft, y, std::move(line)});
        y += kLineStep;
    }
    y += kLineStep; // the last description line + 200
    out.push_back({kLeft, y, LoadString(IDS_ALERT_STRING)});
    for (auto& line : WrapPrintText(alert.alertText)) {
        y += kLineStep;
        out.push_back({kLeft, y, std::move(line)});
    }
    return out;
}

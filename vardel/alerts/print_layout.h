#pragma once
// Where the alert summary's texts go on the printed page, in device units.

#include "vardel/alerts/alert_record.h"

#include <string>
#include <vector>

struct PrintLine {
    int x = 0;
    int y = 0; // top of the text
    std::string text;
};

// A text of at most 65 characters as one line, a longer one as pieces of
// exactly 65 characters and a shorter remainder. Characters are UTF-8 code
// points, so a piece never ends inside one.
std::vector<std::string> WrapPrintText(const std::string& text);

// Heading, server name, date and time, the wrapped description and the
// wrapped alert text with their captions.
std::vector<PrintLine> LayoutAlertPrint(const AlertRecord& alert);

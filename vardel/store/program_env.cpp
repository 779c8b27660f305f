#include "vardel/store/program_env.h"

#include "platform/progdir/progdir.h"

#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>

std::string ProgramDirectory() {
    return progdir::programDirectory();
}

std::string FormatLocalTime(std::time_t when) {
    std::tm tm{};
    localtime_r(&when, &tm);
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::put_time(&tm, "%B %d, %Y, %H:%M:%S");
    return out.str();
}

std::string FormatNow() {
    return FormatLocalTime(std::time(nullptr));
}

void DebugTrace(const std::string& text) {
    std::fputs("Vardel 4.0: ", stderr);
    std::fputs(text.c_str(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

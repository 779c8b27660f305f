#include "program_env.h"

#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>
#include <unistd.h>
#include <vector>

std::string ProgramDirectory() {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return "./";
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
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

#include "vardel/store/program_env.h"

#include "platform/progdir/progdir.h"

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <locale>
#include <pwd.h>
#include <sstream>
#include <unistd.h>
#include <vector>

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

std::string CurrentUserName() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return std::to_string(getuid());
}

void DebugTrace(const std::string& text) {
    std::fputs("Vardel 4.0: ", stderr);
    std::fputs(text.c_str(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

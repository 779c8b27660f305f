// Runs one call of the desktop layer in a process of its own, so that each test
// starts GIO afresh in the environment it chose.
//   desktop_probe html        prints defaultHtmlCommandLine()
//   desktop_probe open URI    exit status 0 when openUri(URI) succeeded, else 1

#include "platform/desktop/desktop.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "html") == 0) {
        std::fputs(desktop::defaultHtmlCommandLine().c_str(), stdout);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "open") == 0)
        return desktop::openUri(argv[2]) ? 0 : 1;
    return 2;
}

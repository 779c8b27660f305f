// The tests' own main: a test process that finds itself outside a network
// namespace of its own starts again under scripts/in-netns, so that no test
// ever changes the machine's own network settings.

#include "tamber/tests/netlab.h"

#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (!netlab::inPrivateNetns() && std::getenv("TAMBER_TEST_REEXEC") == nullptr) {
        char self[PATH_MAX] = {};
        if (realpath("/proc/self/exe", self) != nullptr) {
            setenv("TAMBER_TEST_REEXEC", "1", 1);
            std::vector<char*> args = {const_cast<char*>(IN_NETNS_SCRIPT), self};
            for (int i = 1; i < argc; ++i) {
                args.push_back(argv[i]);
            }
            args.push_back(nullptr);
            execv(IN_NETNS_SCRIPT, args.data());
        }
        // Could not start again: the cases that need a namespace skip themselves.
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

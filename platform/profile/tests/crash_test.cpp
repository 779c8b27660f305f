// A process killed while it saves leaves the old or the new file, whole.
#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A console file of 10,000 servers; tag makes two of them differ throughout.
std::string consoleFile(const std::string& tag) {
    std::string s = "[CLIENTS]\r\nHostname=CONSOLE1\r\nNumClients=1\r\nCONSOLE1=CLIENT1\r\n"
                    "[ServerInfo]\r\nNumServers=10000\r\n[SERVERS]\r\n";
    for (int i = 0; i < 10000; ++i)
        s += tag + std::to_string(i) + "=1\r\n";
    for (int i = 0; i < 10000; ++i)
        s += "[" + tag + std::to_string(i) + "]\r\nNOS=NT\r\nIP=10.1." + std::to_string(i / 256) + "." +
             std::to_string(i % 256) + "\r\nIPX=\r\nSNMP_COMMUNITY=public\r\n";
    return s;
}

} // namespace

TEST(ProfileCrashSafety, KilledSavesLeaveOneWholeFile) {
    testsupport::TempDir dir;
    const std::string ini = dir.file("rlaweb.ini");
    const std::string a = consoleFile("SRVA");
    const std::string b = consoleFile("SERVER-B");
    const profile::Document docA = profile::Document::parse(a);
    const profile::Document docB = profile::Document::parse(b);
    ASSERT_TRUE(profile::save(ini, docA));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(profile::save(ini, docB));
    const auto saveTime =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    const long maxDelay = std::clamp<long>(3 * saveTime.count(), 2000, 60000);

    std::mt19937 random(12345);
    int sawA = 0, sawB = 0;
    for (int attempt = 0; attempt < 200; ++attempt) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            bool first = true;
            for (bool useA = attempt % 2 == 0;; useA = !useA) {
                profile::save(ini, useA ? docA : docB);
                if (first) {
                    (void)!::write(ready[1], "x", 1);
                    first = false;
                }
            }
        }
        ::close(ready[1]);
        char byte;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1); // the child is running and has saved once
        ::close(ready[0]);
        ::usleep(std::uniform_int_distribution<long>(0, maxDelay)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        const std::string now = testsupport::readFile(ini);
        ASSERT_TRUE(now == a || now == b) << "attempt " << attempt << ": " << now.size() << " bytes";
        (now == a ? sawA : sawB)++;
        // A kill may leave its temporary file behind; nothing else may appear.
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name != "rlaweb.ini") {
                ASSERT_EQ(name.rfind(".rlaweb.ini.", 0), 0u) << name;
                std::filesystem::remove(entry.path());
            }
        }
    }
    std::cout << "after 200 kills: " << sawA << " times A, " << sawB << " times B (save takes "
              << saveTime.count() << " us)\n";
}

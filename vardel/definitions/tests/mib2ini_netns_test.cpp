// vardel-mib2ini as an administrator runs it, and on a read-only program
// directory (a read-only bind mount: the tests may run as root).

#include "tests/support/testsupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

struct CommandRun {
    int status;
    std::string output;
};

CommandRun run(const std::string& command) {
    CommandRun r{-1, {}};
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    std::array<char, 4096> buffer{};
    while (p && std::fgets(buffer.data(), buffer.size(), p))
        r.output += buffer.data();
    const int status = p ? ::pclose(p) : -1;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

class Mib2IniTest : public ::testing::Test {
protected:
    void SetUp() override {
        ietf = testsupport::sourcePath("../shared/mibs/ietf");
        if (!std::filesystem::is_directory(ietf))
            GTEST_SKIP() << "no real MIBs at " << ietf;
        testsupport::copyProgramData(dir.path());
        testsupport::writeFile(in.file("lacking.my"),
                               "LACKING-MIB DEFINITIONS ::= BEGIN\nIMPORTS acme FROM ACME-SMI;\nEND\n");
        command = std::string(std::getenv("VARDEL_PROGRAM_DIR")) + "/vardel-mib2ini -M " + ietf + " -o " +
                  dir.path() + " " + ietf + "/IF-MIB.txt ";
    }
    std::string ietf, command;
    testsupport::TempDir dir, in;
};

TEST_F(Mib2IniTest, PrintsEachDefinitionAndEachRefusal) {
    const CommandRun all = run(command);
    EXPECT_EQ(all.status, 0) << all.output;
    EXPECT_NE(all.output.find("written   1.3.6.1.6.3.1.1.5.3 linkDown CRITICAL IF-MIB.INI\n"),
              std::string::npos)
        << all.output;

    const CommandRun partly = run(command + in.file("lacking.my"));
    EXPECT_EQ(partly.status, 1) << partly.output;
    EXPECT_NE(partly.output.find("kept      1.3.6.1.6.3.1.1.5.3 linkDown"), std::string::npos)
        << partly.output;
    EXPECT_NE(partly.output.find("refused   " + in.file("lacking.my")), std::string::npos);
    EXPECT_NE(partly.output.find("missing modules: ACME-SMI"), std::string::npos);
    EXPECT_EQ(run(command + "--bogus").status, 2);
}

TEST_F(Mib2IniTest, ReadOnlyProgramDirectoryIsLeftAsItWas) {
    const std::string index = testsupport::readFile(dir.file("VDTrap.ini"));
    const std::string d = dir.path();
    const CommandRun ro = run("unshare -m sh -c 'mount --bind " + d + " " + d +
                              " && mount -o remount,bind,ro " + d + " " + d + " && exec " + command + "'");
    EXPECT_EQ(ro.status, 3) << ro.output;
    EXPECT_NE(ro.output.find("cannot write to the program directory " + d + ": Read-only file system"),
              std::string::npos)
        << ro.output;
    EXPECT_EQ(testsupport::readFile(dir.file("VDTrap.ini")), index);
    EXPECT_FALSE(std::filesystem::exists(dir.file("IF-MIB.INI")));
}

} // namespace

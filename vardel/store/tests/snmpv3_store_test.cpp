// The SNMPv3 credentials file and the console's engine ID.

#include "snmp/snmp.h"
#include "tests/support/testsupport.h"
#include "vardel/store/snmpv3_store.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

ServerList twoServers() {
    ServerList servers;
    for (const char* name : {"SRVA", "SRVB"}) {
        servers.push_back(std::make_unique<ManagedServer>());
        servers.back()->name = name;
        servers.back()->ipAddress = "10.0.0.1";
    }
    return servers;
}

} // namespace

TEST(SnmpV3Store, KeysRoundTripInAFileOfTheGroupWithoutPassPhrases) {
    TempDir dir;
    ServerList servers = twoServers();
    std::string reason;
    // No user and no file: nothing is written.
    ASSERT_EQ(SaveV3Credentials(dir.path(), servers, reason), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file(kV3CredentialsFile)));
    EXPECT_FALSE(std::filesystem::exists(dir.file(kEngineIdFile)));

    const std::string console = ConsoleEngineId(dir.path(), reason);
    ASSERT_EQ(console.size(), 13u);
    EXPECT_EQ(ConsoleEngineId(dir.path(), reason), console);

    SnmpV3Credentials& a = servers.front()->v3;
    a.user = "alice";
    a.auth = snmpv3::kAuthSha256;
    a.priv = snmpv3::kPrivAes256;
    ASSERT_TRUE(MakeV3Keys(a, "alicepass123", "alicepriv123", console));
    EXPECT_EQ(a.authMaster.size(), 32u); // no engine yet: master keys
    SnmpV3Credentials& b = servers.back()->v3;
    b.user = "carol";
    b.level = snmpv3::kAuthNoPriv;
    b.auth = snmpv3::kAuthSha;
    b.v3Only = true;
    ASSERT_TRUE(snmpv3::fromHex("800007e58001020304", b.engineId));
    EXPECT_FALSE(MakeV3Keys(b, "short", "", console));
    ASSERT_TRUE(MakeV3Keys(b, "carolpass123", "", console));
    EXPECT_EQ(b.authKey.size(), 20u);
    EXPECT_TRUE(b.authMaster.empty());

    ASSERT_EQ(SaveV3Credentials(dir.path(), servers, reason), 0) << reason;
    struct stat st {};
    ASSERT_EQ(stat(dir.file(kV3CredentialsFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    const std::string text = readFile(dir.file(kV3CredentialsFile));
    for (const char* phrase : {"alicepass123", "alicepriv123", "carolpass123"})
        EXPECT_EQ(text.find(phrase), std::string::npos);

    ServerList read = twoServers();
    ASSERT_EQ(LoadV3Credentials(dir.path(), read, reason), 0) << reason;
    for (std::size_t i = 0; i < 2; ++i) {
        const SnmpV3Credentials& was = (i == 0 ? servers.front() : servers.back())->v3;
        const SnmpV3Credentials& got = (i == 0 ? read.front() : read.back())->v3;
        EXPECT_EQ(got.user, was.user);
        EXPECT_EQ(got.level, was.level);
        EXPECT_EQ(got.auth, was.auth);
        EXPECT_EQ(got.priv, was.priv);
        EXPECT_EQ(got.engineId, was.engineId);
        EXPECT_EQ(got.authKey, was.authKey);
        EXPECT_EQ(got.authMaster, was.authMaster);
        EXPECT_EQ(got.privMaster, was.privMaster);
        EXPECT_EQ(got.consolePrivKey, was.consolePrivKey);
        EXPECT_EQ(got.v3Only, was.v3Only);
    }
}

TEST(SnmpV3Store, AFileThatCannotBeReadChangesNothingAndSaysWhy) {
    TempDir dir;
    ServerList servers = twoServers();
    std::string reason;
    writeFile(dir.file(kV3CredentialsFile), "[SRVA]\nUser=alice\nLevel=authPriv\nAuth=SHA-256\nPriv=AES\n"
                                            "AuthKey=XYZ\n");
    EXPECT_EQ(LoadV3Credentials(dir.path(), servers, reason), -1);
    EXPECT_NE(reason.find("SRVA"), std::string::npos);
    EXPECT_FALSE(servers.front()->v3.configured());

    std::filesystem::remove(dir.file(kV3CredentialsFile));
    std::filesystem::create_directory(dir.file(kV3CredentialsFile));
    reason.clear();
    EXPECT_EQ(LoadV3Credentials(dir.path(), servers, reason), -1);
    EXPECT_FALSE(reason.empty());

    writeFile(dir.file(kEngineIdFile), "not hex\n");
    EXPECT_TRUE(ConsoleEngineId(dir.path(), reason).empty());
}

// A console killed while it writes the file leaves the old file or the new
// one, whole, never a part of either.
TEST(SnmpV3Store, KilledSavesLeaveOneWholeFile) {
    TempDir dir;
    std::string reason;
    const std::string console = ConsoleEngineId(dir.path(), reason);
    ServerList one = twoServers();
    ServerList other = twoServers();
    one.front()->v3.user = "alice";
    other.back()->v3.user = "carol";
    for (ServerList* list : {&one, &other})
        for (auto& s : *list)
            if (s->v3.configured()) {
                s->v3.auth = snmpv3::kAuthSha256;
                s->v3.priv = snmpv3::kPrivAes;
                ASSERT_TRUE(MakeV3Keys(s->v3, "passphrase123", "passphrase456", console));
            }
    ASSERT_EQ(SaveV3Credentials(dir.path(), one, reason), 0) << reason;
    for (int attempt = 0; attempt < 40; ++attempt) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            std::string why;
            for (int i = 0;; ++i) {
                SaveV3Credentials(dir.path(), (i + attempt) % 2 == 0 ? one : other, why);
                if (i == 0)
                    (void)!write(ready[1], "x", 1);
            }
        }
        close(ready[1]);
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        usleep(static_cast<useconds_t>(attempt * 97 % 3000));
        kill(child, SIGKILL);
        ASSERT_EQ(waitpid(child, nullptr, 0), child);
        ServerList read = twoServers();
        ASSERT_EQ(LoadV3Credentials(dir.path(), read, reason), 0) << reason;
        const bool isOne = read.front()->v3.user == "alice" && !read.back()->v3.configured();
        const bool isOther = read.back()->v3.user == "carol" && !read.front()->v3.configured();
        EXPECT_TRUE(isOne || isOther) << "attempt " << attempt;
    }
}

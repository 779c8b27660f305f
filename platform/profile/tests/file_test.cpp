// Profile files on disk: single calls, the cache, atomic saves and their failures.
#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Names in the directory other than the ones given: temporary files left behind.
std::vector<std::string> strayFiles(const TempDir& dir, const std::vector<std::string>& expected) {
    std::vector<std::string> stray;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            stray.push_back(name);
    }
    return stray;
}

// Limits the size of files this process may write, for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

} // namespace

TEST(ProfileFile, SingleCallsOnAMissingFileCreateItWithCrlf) {
    TempDir dir;
    const std::string ini = dir.file("rlaweb.ini");
    EXPECT_EQ(profile::getString(ini, "CLIENTS", "NumClients", "none", 20), "none");
    EXPECT_EQ(profile::getInt(ini, "CLIENTS", "NumClients", 0), 0);
    EXPECT_TRUE(profile::sectionKeys(ini, "CLIENTS", 100).empty());
    EXPECT_TRUE(profile::deleteKey(ini, "CLIENTS", "x"));
    EXPECT_FALSE(std::filesystem::exists(ini)); // nothing to delete, nothing written

    ASSERT_TRUE(profile::writeString(ini, "CLIENTS", "Hostname", "CONSOLE1"));
    ASSERT_TRUE(profile::writeString(ini, "CLIENTS", "NumClients", "1"));
    EXPECT_EQ(readFile(ini), "[CLIENTS]\r\nHostname=CONSOLE1\r\nNumClients=1\r\n");
    EXPECT_EQ(profile::getInt(ini, "clients", "numclients", 0), 1);
    EXPECT_FALSE(profile::writeString(ini, "CLIENTS", "", "x"));
    EXPECT_FALSE(profile::writeString(ini, "", "key", "x"));

    ASSERT_TRUE(profile::deleteKey(ini, "CLIENTS", "hostname"));
    ASSERT_TRUE(profile::deleteSection(ini, "clients"));
    EXPECT_EQ(readFile(ini), "");
    EXPECT_TRUE(strayFiles(dir, {"rlaweb.ini"}).empty());
}

TEST(ProfileFile, SavesKeepLineEndsModeAndLinks) {
    TempDir dir;
    const std::string ini = dir.file("lf.ini");
    writeFile(ini, "[s]\nk=1\n");
    ::chmod(ini.c_str(), 0640);
    ASSERT_TRUE(profile::writeString(ini, "s", "j", "2"));
    EXPECT_EQ(readFile(ini), "[s]\nk=1\nj=2\n");
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // An unchanged value is not written at all.
    const ino_t before = inodeOf(ini);
    ASSERT_TRUE(profile::writeString(ini, "S", "J", "2"));
    EXPECT_EQ(inodeOf(ini), before);

    const std::string link = dir.file("link.ini");
    ASSERT_EQ(::symlink(ini.c_str(), link.c_str()), 0);
    ASSERT_TRUE(profile::writeString(link, "s", "k", "via link"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(ini), "[s]\nk=via link\nj=2\n");
    EXPECT_TRUE(strayFiles(dir, {"lf.ini", "link.ini"}).empty());
}

TEST(ProfileFile, CacheFollowsChangesBehindOurBack) {
    TempDir dir;
    const std::string ini = dir.file("c.ini");
    writeFile(ini, "[s]\nk=one\n");
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "one");

    // Rewritten in place within the same clock tick, same size: only the content tells.
    writeFile(ini, "[s]\nk=two\n");
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "two");

    // Replaced by another file.
    writeFile(dir.file("other"), "[s]\nk=three, longer\n");
    std::filesystem::rename(dir.file("other"), ini);
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 30), "three, longer");

    // A write goes on top of what is on disk now, not of the cached text.
    writeFile(ini, "[s]\nk=four\n[t]\nx=1\n");
    ASSERT_TRUE(profile::writeString(ini, "t", "y", "2"));
    EXPECT_EQ(readFile(ini), "[s]\nk=four\n[t]\nx=1\ny=2\n");

    std::filesystem::remove(ini);
    EXPECT_EQ(profile::getString(ini, "s", "k", "gone", 30), "gone");
    EXPECT_FALSE(profile::load(ini).hasSection("s"));
}

TEST(ProfileFile, CacheOutlivesTheClockTick) {
    TempDir dir;
    const std::string ini = dir.file("c.ini");
    writeFile(ini, "[s]\nk=one\n");
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "one");
    ::usleep(120000);
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "one");
    writeFile(ini, "[s]\nk=two\n");
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "two");
}

TEST(ProfileFile, FailedSaveReportsFalseAndKeepsTheOldFile) {
    TempDir dir;
    const profile::Document doc = profile::Document::parse("[s]\r\nk=" + std::string(5000, 'x') + "\r\n");

    EXPECT_FALSE(profile::save(dir.file("no/such/dir.ini"), doc));
    EXPECT_FALSE(std::filesystem::exists(dir.file("no")));

    std::filesystem::create_directory(dir.file("adir.ini"));
    EXPECT_FALSE(profile::save(dir.file("adir.ini"), doc));
    EXPECT_FALSE(profile::writeString(dir.file("adir.ini"), "s", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("adir.ini")));

    // The disk fills up while the new text is written.
    const std::string ini = dir.file("full.ini");
    writeFile(ini, "[s]\r\nk=old\r\n");
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "old");
    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(profile::save(ini, doc));
        EXPECT_FALSE(profile::writeString(ini, "s", "k", std::string(4000, 'y')));
        const profile::WriteResult r = profile::writeFileAtomically(ini, std::string(4000, 'z'));
        EXPECT_FALSE(r);
        EXPECT_EQ(r.error, EFBIG);
        EXPECT_EQ(r.reason(), "cannot write " + ini + ": " + std::strerror(EFBIG));
    }
    EXPECT_EQ(readFile(ini), "[s]\r\nk=old\r\n");
    EXPECT_EQ(profile::getString(ini, "s", "k", "", 20), "old");
    EXPECT_TRUE(strayFiles(dir, {"full.ini", "adir.ini"}).empty());
}

TEST(ProfileFile, BatchReplacesEveryFileOrNoneWhenWritingFails) {
    TempDir dir;
    const std::string a = dir.file("a.ini"), b = dir.file("b.html");
    writeFile(a, "[s]\r\nk=old\r\n");
    ::chmod(a.c_str(), 0640);
    EXPECT_EQ(profile::getString(a, "s", "k", "", 20), "old");
    ASSERT_TRUE(profile::writeFilesAtomically({{a, "[s]\r\nk=new\r\n"}, {b, "<p>page</p>\n"}}));
    EXPECT_EQ(profile::getString(a, "s", "k", "", 20), "new");
    EXPECT_EQ(readFile(b), "<p>page</p>\n");
    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(profile::writeFilesAtomically({{a, "[s]\r\nk=small\r\n"}, {b, std::string(4000, 'z')}}));
    }
    EXPECT_EQ(readFile(a), "[s]\r\nk=new\r\n");
    EXPECT_EQ(readFile(b), "<p>page</p>\n");
    EXPECT_TRUE(strayFiles(dir, {"a.ini", "b.html"}).empty());
}

TEST(ProfileFile, ReadOnlyFileIsNotReplaced) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    TempDir dir;
    const std::string ini = dir.file("ro.ini");
    writeFile(ini, "[s]\nk=1\n");
    ::chmod(ini.c_str(), 0444);
    EXPECT_FALSE(profile::writeString(ini, "s", "k", "2"));
    EXPECT_EQ(readFile(ini), "[s]\nk=1\n");
}

TEST(ProfileTransaction, WritesOnlyOnCommit) {
    TempDir dir;
    const std::string ini = dir.file("t.ini");
    writeFile(ini, "[SERVERS]\nA=1\nB=1\n[A]\nIP=1\n[B]\nIP=2\n");
    const profile::Document loaded = profile::load(ini);
    {
        profile::Transaction t(ini);
        t.doc().deleteSection("A");
        t.doc().writeString("SERVERS", "C", "1");
    }
    EXPECT_EQ(readFile(ini), "[SERVERS]\nA=1\nB=1\n[A]\nIP=1\n[B]\nIP=2\n");
    // Neither a document loaded before nor the next read sees the abandoned edits.
    EXPECT_EQ(loaded.getString("A", "IP", "", 10), "1");
    EXPECT_EQ(profile::getString(ini, "A", "IP", "", 10), "1");

    profile::Transaction t(ini);
    for (const char* name : {"A", "B"})
        t.doc().deleteSection(name);
    t.doc().deleteSection("SERVERS");
    t.doc().writeString("SERVERS", "C", "1");
    t.doc().writeString("C", "IP", "3");
    EXPECT_EQ(profile::getString(ini, "A", "IP", "", 10), "1"); // not yet
    ASSERT_TRUE(t.commit());
    EXPECT_EQ(readFile(ini), "[SERVERS]\nC=1\n[C]\nIP=3\n");
    EXPECT_EQ(profile::getString(ini, "C", "IP", "", 10), "3");
    EXPECT_EQ(profile::getString(ini, "A", "IP", "none", 10), "none");
}

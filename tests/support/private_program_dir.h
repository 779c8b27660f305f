#pragma once
// Gives a test case a program directory of its own, for the libraries that
// find their files beside the running binary: in a private mount namespace, a
// fresh directory covers the directory of the test binary. Needs a namespace
// launcher that makes the test root of its user namespace (NETNS), and a
// process that has no other thread yet.

#include "tests/support/testsupport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>

namespace testsupport {

class PrivateProgramDirectory {
public:
    PrivateProgramDirectory() {
        m_target = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
        m_ok = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
               mount(m_dir.path().c_str(), m_target.c_str(), nullptr, MS_BIND, nullptr) == 0;
        EXPECT_TRUE(m_ok) << "private program directory: " << std::strerror(errno);
    }
    ~PrivateProgramDirectory() {
        if (m_ok)
            umount2(m_target.c_str(), MNT_DETACH);
    }
    PrivateProgramDirectory(const PrivateProgramDirectory&) = delete;
    PrivateProgramDirectory& operator=(const PrivateProgramDirectory&) = delete;

    bool ok() const { return m_ok; }
    // Writes name into the program directory, as the binary sees it.
    void write(const std::string& name, const std::string& content) const {
        writeFile(m_target + "/" + name, content);
    }

private:
    TempDir m_dir;
    std::string m_target;
    bool m_ok = false;
};

} // namespace testsupport

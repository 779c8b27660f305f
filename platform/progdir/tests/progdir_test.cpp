#include "platform/progdir/progdir.h"
#include "tests/support/testsupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(ProgramDirectory, OnlyTheInstallDirectoryMovesToTheDataDirectory) {
    testsupport::TempDir root;
    const std::string install = root.file("opt/vardel/");
    const std::string other = root.file("build/bin/");
    fs::create_directories(install);
    fs::create_directories(other);
    fs::create_directory_symlink(install, root.file("link"));
    const std::string data = "/var/opt/vardel/";

    EXPECT_EQ(data, progdir::resolve(install, install, data));
    EXPECT_EQ(data, progdir::resolve(root.file("link/"), install, data));
    EXPECT_EQ(data, progdir::resolve(install, root.file("opt/./vardel"), data));
    EXPECT_EQ(other, progdir::resolve(other, install, data));
    EXPECT_EQ(root.file("opt/"), progdir::resolve(root.file("opt/"), install, data));
    // A missing install directory is never the program's.
    EXPECT_EQ(other, progdir::resolve(other, root.file("missing/"), data));
}

TEST(ProgramDirectory, TheBuildTreeKeepsTheBinarysDirectory) {
    const std::string self = fs::read_symlink("/proc/self/exe").parent_path().string() + "/";
    EXPECT_EQ(self, progdir::programDirectory());
}

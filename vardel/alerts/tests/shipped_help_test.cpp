// The help pages of the shipped trap definitions, as the build lays them out.

#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "platform/profile/profile.h"
#include "tests/support/testsupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace {

std::vector<std::string> sectionNames(const std::string& text) {
    static const std::regex header(R"(^\s*\[([^\]]+)\])", std::regex::multiline);
    std::vector<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), header); it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

TEST(ShippedDefinitions, EveryHelpFileAndContextResolvesInTheProgramDirectory) {
    const char* programDir = std::getenv("VARDEL_PROGRAM_DIR");
    ASSERT_NE(programDir, nullptr);
    const std::string dir = std::string(programDir) + "/";
    const std::string index = dir + "VDTrap.ini";
    std::vector<std::string> files = {"VDTRAP2.INI", "VDTRAPSW1.INI", "STANDARD.INI"};
    for (const std::string& enterprise : profile::sectionKeys(index, "EnterpriseList", 4096))
        files.push_back(profile::getString(index, "EnterpriseList", enterprise, "", 512));

    msgbox::ScopedScript boxes;
    help::setLauncher([](const std::string&) { return true; });
    int contexts = 0;
    for (const std::string& file : files) {
        const std::string text = testsupport::readFile(dir + file);
        ASSERT_FALSE(text.empty()) << file;
        for (const std::string& section : sectionNames(text)) {
            const std::string helpFile = profile::getString(dir + file, section, "Helpfile", "", 512);
            if (helpFile.empty())
                continue;
            const int id = profile::getInt(dir + file, section, "HelpID", 0);
            EXPECT_EQ(help::openHelpContext(nullptr, dir + helpFile, static_cast<unsigned long>(id)), 0)
                << file << " [" << section << "]";
            const std::string page =
                testsupport::readFile(std::filesystem::path(dir + helpFile).replace_extension(".html"));
            EXPECT_NE(page.find("id=\"" + std::to_string(id) + "\""), std::string::npos)
                << file << " [" << section << "]";
            ++contexts;
        }
    }
    help::setLauncher({});
    EXPECT_GT(contexts, 0);
    EXPECT_TRUE(boxes.script.shown.empty());
}

} // namespace

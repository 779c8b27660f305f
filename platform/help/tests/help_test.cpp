#include "platform/help/help.h"
#include "platform/msgbox/msgbox.h"
#include "tests/support/testsupport.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        help::setLauncher([this](const std::string& uri) {
            m_launched.push_back(uri);
            return m_launchSucceeds;
        });
    }
    void TearDown() override { help::setLauncher({}); }

    std::string withRendition(const std::string& hlpName) {
        const std::string hlp = m_dir.file(hlpName);
        testsupport::writeFile(std::filesystem::path(hlp).replace_extension(".html"), "<html></html>\n");
        return hlp;
    }

    testsupport::TempDir m_dir;
    msgbox::ScopedScript m_boxes;
    std::vector<std::string> m_launched;
    bool m_launchSucceeds = true;
};

TEST_F(HelpTest, ContentsAndContextsOpenTheHtmlRendition) {
    const std::string hlp = withRendition("Vardel.hlp");
    const std::string base = "file://" + m_dir.path() + "Vardel.html";

    EXPECT_EQ(0, help::openHelpContents(nullptr, hlp));
    EXPECT_EQ(0, help::openHelpContext(nullptr, hlp, 1234));
    EXPECT_EQ(0, help::openHelpContext(nullptr, hlp, 0));
    EXPECT_EQ(0, help::openHelpContext(nullptr, hlp, ULONG_MAX));
    EXPECT_EQ(
        (std::vector<std::string>{base, base + "#1234", base + "#0", base + "#" + std::to_string(ULONG_MAX)}),
        m_launched);
    EXPECT_TRUE(m_boxes.script.shown.empty());
}

TEST_F(HelpTest, FileNamesAreEncodedInTheUri) {
    std::filesystem::create_directories(m_dir.file("a b#c%d"));
    const std::string hlp = withRendition("a b#c%d/Alert Help.HLP");
    EXPECT_EQ(0, help::openHelpContext(nullptr, hlp, 7));
    EXPECT_EQ(std::vector<std::string>{"file://" + m_dir.path() + "a%20b%23c%25d/Alert%20Help.html#7"},
              m_launched);
}

TEST_F(HelpTest, RelativePathsAreInTheProgramDirectory) {
    const auto programDir = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const auto html = programDir / "help_test_relative.html";
    testsupport::writeFile(html, "<html></html>\n");
    const int rc = help::openHelpContext(nullptr, "help_test_relative.hlp", 3);
    std::filesystem::remove(html);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(std::vector<std::string>{"file://" + html.string() + "#3"}, m_launched);
}

TEST_F(HelpTest, MissingRenditionIsReportedAndNothingIsLaunched) {
    const std::string hlp = m_dir.file("Vardel.hlp");
    testsupport::writeFile(hlp, "old WinHelp file"); // the .hlp alone is no use
    std::filesystem::create_directories(m_dir.file("Dir.html"));
    auto* owner = reinterpret_cast<QWidget*>(0x1234); // only passed through

    EXPECT_EQ(-1, help::openHelpContents(owner, hlp));
    EXPECT_EQ(-1, help::openHelpContext(owner, m_dir.file("Dir.hlp"), 5)); // a directory is no file
    EXPECT_EQ(-1, help::openHelpContents(owner, ""));
    EXPECT_TRUE(m_launched.empty());
    ASSERT_EQ(3u, m_boxes.script.shown.size());
    const msgbox::Box& box = m_boxes.script.shown[0];
    EXPECT_EQ("Cannot find the help file " + m_dir.path() + "Vardel.html.", box.text);
    EXPECT_EQ("Help", box.caption);
    EXPECT_EQ(msgbox::Buttons::Ok, box.buttons);
    EXPECT_EQ(msgbox::Icon::Error, box.icon);
    EXPECT_EQ(owner, box.owner);
}

TEST_F(HelpTest, ViewerThatCannotStartIsReported) {
    m_launchSucceeds = false;
    EXPECT_EQ(-1, help::openHelpContext(nullptr, withRendition("Vardel.hlp"), 9));
    EXPECT_EQ(1u, m_launched.size());
    ASSERT_EQ(1u, m_boxes.script.shown.size());
    EXPECT_EQ("Help", m_boxes.script.shown[0].caption);
    EXPECT_NE(std::string::npos, m_boxes.script.shown[0].text.find(m_dir.path() + "Vardel.html"));
}

} // namespace

#include "platform/msgbox/msgbox.h"
#include "platform/registry/registry.h"
#include "tests/support/testsupport.h"
#include "vardel/polling/page_launch.h"
#include "vardel/resources/string_table.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

ConsoleSettings management(std::uint8_t ssl) {
    ConsoleSettings s;
    s.managementServerName = "M";
    s.port = 81;
    s.useSsl = ssl;
    return s;
}

// A private desktop in which `browser` is the default for HTML and http(s).
// Each test case runs in its own process, so GIO sees only this one.
class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"home", "data/applications", "config"})
            std::filesystem::create_directories(dir.file(d));
        setenv("HOME", dir.file("home").c_str(), 1);
        setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
        setenv("XDG_DATA_DIRS", dir.file("none").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", dir.file("none").c_str(), 1);
        writeFile(dir.file("vardel.reg"),
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE"
                  "\\Orvane\\Orv Corvanta Vardel\\ManagementServer]\r\n\r\n");
    }

    void installBrowser(const std::string& exec) {
        writeFile(dir.file("browser"), "#!/bin/sh\nprintf '%s' \"$1\" > '" + dir.file("url.part") +
                                           "' && mv '" + dir.file("url.part") + "' '" + dir.file("url") +
                                           "'\n");
        chmod(dir.file("browser").c_str(), 0755);
        writeFile(dir.file("data/applications/testbrowser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + exec +
                      "\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
        writeFile(dir.file("config/mimeapps.list"), "[Default Applications]\ntext/html=testbrowser.desktop\n"
                                                    "x-scheme-handler/http=testbrowser.desktop\n"
                                                    "x-scheme-handler/https=testbrowser.desktop\n");
    }

    TempDir dir;
    msgbox::ScopedScript boxes;
};

} // namespace

TEST(ServerPageUrl, HttpCarriesThePortHttpsDoesNotNamesGoUnchanged) {
    EXPECT_EQ(ServerPageUrl(management(0), "S"), "http://M:81/kvtl/apps/server/status.html?server=S");
    EXPECT_EQ(ServerPageUrl(management(1), "S"), "https://M/kvtl/apps/server/status.html?server=S");
    EXPECT_EQ(ServerPageUrl(management(2), "S"), "http://M:81/kvtl/apps/server/status.html?server=S");
    EXPECT_EQ(ServerPageUrl(management(0), "A B&x"), "http://M:81/kvtl/apps/server/status.html?server=A B&x");
}

TEST_F(Desktop, FindBrowserTakesTheFirstTokenAndRecordsIt) {
    installBrowser(dir.file("browser") + " --new-window %u");
    std::string browser = "before";
    ASSERT_EQ(FindBrowser(dir.file("vardel.reg"), browser), 0);
    EXPECT_EQ(browser, dir.file("browser"));
    auto key = registry::Key::open(dir.file("vardel.reg"));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->read("Browser", 512), dir.file("browser"));
}

TEST_F(Desktop, FindBrowserWithoutAnyBrowserFindsNone) {
    std::string browser = "before";
    EXPECT_EQ(FindBrowser(dir.file("vardel.reg"), browser), -1);
    EXPECT_EQ(browser, "before");
    EXPECT_EQ(readFile(dir.file("vardel.reg")).find("Browser"), std::string::npos);
}

TEST_F(Desktop, FindBrowserWithoutTheConsoleKeyStillSucceedsAndCopiesNothing) {
    installBrowser(dir.file("browser") + " %u");
    std::filesystem::remove(dir.file("vardel.reg"));
    std::string browser = "before";
    EXPECT_EQ(FindBrowser(dir.file("vardel.reg"), browser), 0);
    EXPECT_EQ(browser, "before");
    EXPECT_FALSE(std::filesystem::exists(dir.file("vardel.reg")));
}

TEST_F(Desktop, OpenServerPageHandsTheUrlToTheBrowserAsItIs) {
    installBrowser(dir.file("browser") + " %u");
    OpenServerPage(management(0), "A B&x;$(touch pwned)");
    for (int i = 0; i < 100 && !std::filesystem::exists(dir.file("url")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(readFile(dir.file("url")),
              "http://M:81/kvtl/apps/server/status.html?server=A B&x;$(touch pwned)");
    EXPECT_FALSE(std::filesystem::exists(dir.file("home/pwned")));
    EXPECT_TRUE(boxes.script.shown.empty());
}

TEST_F(Desktop, OpenServerPageWithoutABrowserSaysSo) {
    OpenServerPage(management(1), "S");
    ASSERT_EQ(boxes.script.shown.size(), 1u);
    EXPECT_EQ(boxes.script.shown[0].text, LoadString(IDS_LAUNCH_FAILED));
    EXPECT_EQ(boxes.script.shown[0].caption, "Orv Corvanta Vardel 5.5");
}

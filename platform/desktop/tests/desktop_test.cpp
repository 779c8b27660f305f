// Each case builds a private desktop configuration (XDG directories holding a
// test "browser" that records its arguments) and runs the layer through
// desktop_probe in that environment alone.

#include "tests/support/testsupport.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct ProbeResult {
    int status = -1; // exit status, -1 when it did not end normally
    std::string out;
};

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* d : {"home", "data/applications", "config", "dirs", "configdirs"})
            std::filesystem::create_directories(m_dir.file(d));
    }

    // Installs the test browser as the default for HTML and for http(s) URIs.
    void installBrowser() {
        const std::string script = m_dir.file("browser");
        // Records its arguments, NUL-separated, then renames the record into place.
        testsupport::writeFile(script, "#!/bin/sh\nprintf '%s\\0' \"$@\" > '" + m_dir.file("args.part") +
                                           "' && mv '" + m_dir.file("args.part") + "' '" + argsFile() +
                                           "'\n");
        ASSERT_EQ(0, chmod(script.c_str(), 0755));
        testsupport::writeFile(m_dir.file("data/applications/vardel-test-browser.desktop"),
                               "[Desktop Entry]\nType=Application\nName=Test Browser\nExec=" + script +
                                   " %u\nMimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
        testsupport::writeFile(m_dir.file("config/mimeapps.list"),
                               "[Default Applications]\ntext/html=vardel-test-browser.desktop\n"
                               "x-scheme-handler/http=vardel-test-browser.desktop\n"
                               "x-scheme-handler/https=vardel-test-browser.desktop\n");
    }

    std::string argsFile() const { return m_dir.file("args"); }

    // Runs desktop_probe with only the variables set here. withSystemData adds
    // /usr/share to XDG_DATA_DIRS for the MIME database that types local files.
    ProbeResult probe(const std::vector<std::string>& args, bool withSystemData = false) {
        std::vector<std::string> env{
            "PATH=/usr/bin:/bin",
            "HOME=" + m_dir.file("home"),
            "XDG_DATA_HOME=" + m_dir.file("data"),
            "XDG_CONFIG_HOME=" + m_dir.file("config"),
            "XDG_DATA_DIRS=" + m_dir.file("dirs") + (withSystemData ? ":/usr/share" : ""),
            "XDG_CONFIG_DIRS=" + m_dir.file("configdirs"),
            "GIO_USE_VFS=local",
            "DBUS_SESSION_BUS_ADDRESS=unix:path=" + m_dir.file("no-bus"),
        };
        std::vector<std::string> argv{DESKTOP_PROBE};
        argv.insert(argv.end(), args.begin(), args.end());
        auto pointers = [](std::vector<std::string>& v) {
            std::vector<char*> p;
            for (auto& s : v)
                p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        auto argvp = pointers(argv);
        auto envp = pointers(env);

        ProbeResult result;
        int out[2];
        if (pipe(out) != 0)
            return result;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, argvp[0], &actions, nullptr, argvp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            return result;
        }
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0)
            result.out.append(buf, static_cast<std::size_t>(n));
        close(out[0]);
        int status = 0;
        if (waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.status = WEXITSTATUS(status);
        return result;
    }

    // The arguments the test browser received, once it has run (bounded wait).
    std::vector<std::string> browserArgs() {
        for (int i = 0; i < 200 && !std::filesystem::exists(argsFile()); ++i)
            std::this_thread::sleep_for(50ms);
        const std::string raw = testsupport::readFile(argsFile());
        std::vector<std::string> args;
        std::size_t start = 0;
        for (std::size_t nul; (nul = raw.find('\0', start)) != std::string::npos; start = nul + 1)
            args.push_back(raw.substr(start, nul - start));
        return args;
    }

    testsupport::TempDir m_dir;
};

TEST_F(DesktopTest, DefaultHtmlApplicationIsTheConfiguredOne) {
    installBrowser();
    const ProbeResult r = probe({"html"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(m_dir.file("browser") + " %u", r.out);
}

TEST_F(DesktopTest, UriReachesTheHandlerWholeAndUninterpreted) {
    installBrowser();
    const std::string uri = "http://M:81/kvtl/apps/server/status.html?server=A B&x;$(touch " +
                            m_dir.file("dollar") + ")`touch " + m_dir.file("tick") + "`'\"|*";
    ASSERT_EQ(0, probe({"open", uri}).status);
    EXPECT_EQ(std::vector<std::string>{uri}, browserArgs());
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("dollar")));
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("tick")));
}

TEST_F(DesktopTest, HttpsUriGoesToTheHttpsHandler) {
    installBrowser();
    const std::string uri = "https://M/kvtl/apps/server/status.html?server=S";
    ASSERT_EQ(0, probe({"open", uri}).status);
    EXPECT_EQ(std::vector<std::string>{uri}, browserArgs());
}

TEST_F(DesktopTest, LocalPageWithAnchorOpensInTheHtmlApplication) {
    installBrowser();
    std::filesystem::create_directories(m_dir.file("help dir"));
    testsupport::writeFile(m_dir.file("help dir/Vardel.html"),
                           "<html><body><a name=\"42\"></a></body></html>\n");
    const std::string uri = "file://" + m_dir.file("help%20dir/Vardel.html") + "#42";
    ASSERT_EQ(0, probe({"open", uri}, true).status);
    EXPECT_EQ(std::vector<std::string>{uri}, browserArgs());
}

TEST_F(DesktopTest, WithoutAHandlerNothingOpens) {
    const ProbeResult html = probe({"html"});
    EXPECT_EQ(0, html.status);
    EXPECT_EQ("", html.out);
    EXPECT_EQ(1, probe({"open", "http://M:81/kvtl/apps/server/status.html?server=S"}).status);
    EXPECT_EQ(1, probe({"open", ""}).status);
}

} // namespace

// The Linux desktop opener: the desktop-file rules, and real program starts against stand-in
// xdg-open, gio, xdg-mime and browser scripts found through PATH, so the codes a click gets and
// the browser command line it falls back to are checked without a desktop.
#include "controls/linux/DesktopShell.h"
#include "controls/HyperLink.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

using namespace crenovix;
using namespace crenovix::testsupport;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

TEST(DesktopFileRules, ExecIsTakenFromTheDesktopEntryGroup) {
    const std::string file = "# comment\n"
                             "[Desktop Entry]\n"
                             "Name=Browser\n"
                             "Exec = browser %u\n"
                             "[Desktop Action new-window]\n"
                             "Exec=browser --new-window %u\n";
    EXPECT_EQ(DesktopEntryExec(file), "browser %u");
    EXPECT_EQ(DesktopEntryExec("[Desktop Action x]\nExec=other %u\n[Desktop Entry]\nName=y\n"),
              std::nullopt);
    EXPECT_EQ(DesktopEntryExec("[Desktop Entry]\nTryExec=browser\nExecutable=no\n"), std::nullopt);
}

TEST(DesktopFileRules, TheFirstAddressFieldBecomesThePlaceholder) {
    EXPECT_EQ(ExecToCommand("browser %u"), "browser %1");
    EXPECT_EQ(ExecToCommand("browser %U --x %f"), "browser %1 --x ");
    EXPECT_EQ(ExecToCommand("browser %F"), "browser %1");
    EXPECT_EQ(ExecToCommand("\"/opt/my browser/b\" \"%u\" -y"), "\"/opt/my browser/b\" \"%1\" -y");
    EXPECT_EQ(ExecToCommand("b --icon %i --name %c %k 100%% %u"), "b --icon  --name   100% %1");
    EXPECT_EQ(ExecToCommand("b\\sx\\\\y %u"), "b x\\y %1");
    EXPECT_EQ(ExecToCommand("browser --no-address"), "browser --no-address");
    EXPECT_EQ(ExecToCommand("browser %1 %u"), "browser  %1"); // "%1" is no field code here

    // Together with the portable rule: cut at the placeholder, blank and address appended.
    EXPECT_EQ(BrowserCommandLine(ExecToCommand("b \"%u\" --after"), "http://a.test")->Joined(),
              "b  http://a.test");
}

TEST(DesktopFileRules, CommandsSplitByTheDesktopQuotingRules) {
    EXPECT_EQ(SplitCommandArguments("  \"/opt/my browser/b\"  -a \"q\\\"x\\\\\" tail\\n "),
              (std::vector<std::string>{"/opt/my browser/b", "-a", "q\"x\\", "tail\\n"}));
    EXPECT_EQ(SplitCommandArguments("b \"\""), (std::vector<std::string>{"b", ""}));
    EXPECT_TRUE(SplitCommandArguments(" \t ").empty());
}

// A desktop made of scripts: PATH holds only `bin/`, desktop files live under `data/`.
class DesktopShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_.Path() / "bin");
        std::filesystem::create_directories(dir_.Path() / "data" / "applications");
        Set("PATH", (dir_.Path() / "bin").string());
        Set("XDG_DATA_HOME", (dir_.Path() / "data").string());
        Set("XDG_DATA_DIRS", (dir_.Path() / "nowhere").string());
    }
    void TearDown() override {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            const auto& [name, value] = *it;
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

    void Set(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    // A program on PATH that records its arguments, one a line, into `<name>.args`, then runs
    // `body`.
    std::string Script(const std::string& name, const std::string& body) {
        const std::filesystem::path path = dir_.Path() / "bin" / name;
        std::ofstream(path) << "#!/bin/sh\nPATH=/usr/bin:/bin\n"
                            << "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
                            << ArgsFile(name) << ".tmp'\nmv '" << ArgsFile(name) << ".tmp' '"
                            << ArgsFile(name) << "'\n"
                            << body << "\n";
        std::filesystem::permissions(path, std::filesystem::perms(0755));
        return path.string();
    }

    std::string ArgsFile(const std::string& name) const {
        return (dir_.Path() / (name + ".args")).string();
    }

    // The arguments a script was started with, waiting up to 5 s for a program that was
    // started without waiting for it.
    std::optional<std::vector<std::string>> ArgsOf(const std::string& name) const {
        const Clock::time_point end = Clock::now() + 5s;
        while (!std::filesystem::exists(ArgsFile(name))) {
            if (Clock::now() >= end) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(10ms);
        }
        std::ifstream file(ArgsFile(name));
        std::vector<std::string> args;
        for (std::string line; std::getline(file, line);) {
            args.push_back(line);
        }
        return args;
    }

    void DefaultBrowser(const std::string& exec) {
        Script("xdg-mime", "printf 'test-browser.desktop\\n'");
        std::ofstream(dir_.Path() / "data" / "applications" / "test-browser.desktop")
            << "[Desktop Entry]\nType=Application\nExec=" << exec << "\n";
    }

    CTempDir dir_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    CDesktopShell shell_{SDesktopShellTimes{1000ms, 1000ms}};
};

TEST_F(DesktopShellTest, TheDesktopOpenerGetsTheAddressAsOneArgument) {
    Script("xdg-open", "exit 0");
    DefaultBrowser(Script("browser", "exit 0") + " %u");
    EXPECT_EQ(OpenTarget(shell_, "http://a.test/x;y?q=$HOME&r=`id`"), 33);
    EXPECT_EQ(ArgsOf("xdg-open"), std::vector<std::string>{"http://a.test/x;y?q=$HOME&r=`id`"});
    EXPECT_FALSE(std::filesystem::exists(ArgsFile("xdg-mime")));
    EXPECT_FALSE(std::filesystem::exists(ArgsFile("browser")));
}

TEST_F(DesktopShellTest, AFailedOpenFallsBackToTheBrowserCutAtItsPlaceholder) {
    Script("xdg-open", "exit 3");
    const std::string browser = Script("browser", "exit 0");
    DefaultBrowser("\"" + browser + "\" --new-window \"%u\" --private");
    EXPECT_EQ(OpenTarget(shell_, "http://a.test/notes.txt"), 33);
    EXPECT_EQ(ArgsOf("xdg-mime"), (std::vector<std::string>{"query", "default", "text/html"}));
    EXPECT_EQ(ArgsOf("browser"),
              (std::vector<std::string>{"--new-window", "http://a.test/notes.txt"}));
}

TEST_F(DesktopShellTest, OpenerExitCodesMapOntoTheTable) {
    // No default browser to fall back on: the opener's code stands.
    const std::pair<int, std::int32_t> cases[] = {{1, 2}, {2, 2}, {3, 31}, {4, 27}, {9, 27}};
    for (const auto& [status, code] : cases) {
        Script("xdg-open", "exit " + std::to_string(status));
        EXPECT_EQ(OpenTarget(shell_, "http://a.test"), code) << status;
    }
    Script("xdg-open", "kill -TERM $$");
    EXPECT_EQ(OpenTarget(shell_, "http://a.test"), 27);
}

TEST_F(DesktopShellTest, GioOpensWhenXdgOpenIsMissing) {
    Script("gio", "exit 0");
    EXPECT_EQ(shell_.OpenUrl("http://a.test"), 33);
    EXPECT_EQ(ArgsOf("gio"), (std::vector<std::string>{"open", "http://a.test"}));
    Script("gio", "exit 2");
    EXPECT_EQ(shell_.OpenUrl("http://a.test"), 31);
}

TEST_F(DesktopShellTest, NoOpenerAndNoBrowserMeansNoAssociation) {
    const std::int32_t code = OpenTarget(shell_, "http://a.test");
    EXPECT_EQ(code, 31);
    EXPECT_EQ(OpenErrorText(code), "Unable to open hyperlink:\n\nThere is no application "
                                   "associated\nwith the given filename extension.");
}

TEST_F(DesktopShellTest, AnOpenerThatStaysCountsAsOpenedAfterTheWait) {
    Script("xdg-open", "exec sleep 3 2>/dev/null");
    CDesktopShell shell(SDesktopShellTimes{300ms, 300ms});
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(shell.OpenUrl("http://a.test"), 33);
    EXPECT_LT(Clock::now() - start, 1500ms);
}

TEST_F(DesktopShellTest, ABrowserQueryThatHangsIsGivenUp) {
    Script("xdg-open", "exit 3");
    Script("xdg-mime", "exec sleep 3 2>/dev/null");
    CDesktopShell shell(SDesktopShellTimes{300ms, 300ms});
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(OpenTarget(shell, "http://a.test"), 31);
    EXPECT_LT(Clock::now() - start, 1500ms);
}

TEST_F(DesktopShellTest, MissingOrBrokenBrowserFilesGiveNoCommand) {
    Script("xdg-mime", "printf 'absent.desktop\\n'");
    EXPECT_EQ(shell_.ReadBrowserCommand(), std::nullopt);
    Script("xdg-mime", "printf '../escape.desktop\\n'");
    EXPECT_EQ(shell_.ReadBrowserCommand(), std::nullopt);
    Script("xdg-mime", "exit 1");
    EXPECT_EQ(shell_.ReadBrowserCommand(), std::nullopt);

    // The first folder holding the file decides, also when it has no Exec.
    Set("XDG_DATA_DIRS", (dir_.Path() / "system").string());
    std::filesystem::create_directories(dir_.Path() / "system" / "applications");
    std::ofstream(dir_.Path() / "system" / "applications" / "test-browser.desktop")
        << "[Desktop Entry]\nExec=system-browser %u\n";
    Script("xdg-mime", "printf 'test-browser.desktop;other.desktop\\n'");
    EXPECT_EQ(shell_.ReadBrowserCommand(), "system-browser %1");
    std::ofstream(dir_.Path() / "data" / "applications" / "test-browser.desktop")
        << "[Desktop Entry]\nName=no exec\n";
    EXPECT_EQ(shell_.ReadBrowserCommand(), std::nullopt);
}

TEST_F(DesktopShellTest, StartingTheBrowserReportsWhyItFailed) {
    const std::string plain = (dir_.Path() / "not-a-program").string();
    std::ofstream(plain) << "text";
    EXPECT_EQ(shell_.RunCommandLine({plain, "http://a.test"}), 5);
    EXPECT_EQ(shell_.RunCommandLine({"/no/such/browser", "http://a.test"}), 2);
    EXPECT_EQ(shell_.RunCommandLine({plain + "/sub", "http://a.test"}), 3);
    EXPECT_EQ(shell_.RunCommandLine({"  ", "http://a.test"}), 2); // no program before the "%1"
}

// Catalogue texts that are no web addresses never reach the opener or the browser, whichever
// way they come: a click, or a direct call.
TEST_F(DesktopShellTest, OnlyWebAddressesArePassedOn) {
    Script("xdg-open", "exit 0");
    const std::string browser = Script("browser", "exit 0");
    DefaultBrowser(browser + " %u");
    for (const char* target : {"file:///etc/passwd", "/usr/bin/xterm", "smb://server/share/x",
                               "ssh://host", "--help", "-remote-debugging"}) {
        SHyperLinkState link;
        link.strTarget = target;
        const std::int32_t code = ClickLink(link, shell_);
        EXPECT_EQ(OpenErrorText(code), OpenErrorText(kLinkRefused)) << target;
        EXPECT_EQ(shell_.OpenUrl(target), kLinkRefused) << target;
        EXPECT_EQ(shell_.RunCommandLine({browser, target}), kLinkRefused) << target;
    }
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(std::filesystem::exists(ArgsFile("xdg-open")));
    EXPECT_FALSE(std::filesystem::exists(ArgsFile("browser")));
}

} // namespace

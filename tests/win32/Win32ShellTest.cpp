// The Windows link opener: targets that are not web addresses are refused before the system is
// asked, and the browser fall-back reads the ".htm" command from the registry and starts it.
// The registered command here is the system's command interpreter told to exit, so no browser
// starts.
#include "controls/win32/Win32Shell.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>

namespace crenovix::win32 {
namespace {

constexpr const char* kTestClass = "CrenovixTest.Document";

std::optional<std::string> DefaultValue(HKEY root, const std::string& subKey) {
    char buffer[1024] = {};
    LONG bytes = sizeof buffer;
    if (RegQueryValueA(root, subKey.c_str(), buffer, &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(buffer);
}

void SetDefault(const std::string& subKey, const std::string& value, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

// Registers a document class of its own for ".htm" and puts back what was there afterwards
// (wine prefixes without an HTML engine have no ".htm" key at all).
class BrowserCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        HKEY key = nullptr;
        existed_ =
            RegOpenKeyExA(HKEY_CLASSES_ROOT, ".htm", 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (existed_) {
            RegCloseKey(key);
            previous_ = DefaultValue(HKEY_CLASSES_ROOT, ".htm");
        }
        SetDefault(".htm", kTestClass);
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestClass);
        if (!existed_) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
        } else if (previous_) {
            SetDefault(".htm", *previous_);
        } else {
            RegDeleteKeyValueA(HKEY_CLASSES_ROOT, ".htm", nullptr);
        }
    }
    bool existed_ = false;
    std::optional<std::string> previous_;
};

// Opens through the shell only for the browser fall-back: the system's own opener would start
// the host's browser.
class CFallbackOnly final : public IShell {
public:
    std::int32_t OpenUrl(const std::string&) override { return 31; }
    std::optional<std::string> ReadBrowserCommand() override { return shell.ReadBrowserCommand(); }
    std::int32_t RunCommandLine(const SCommandLine& line) override {
        lastLine = line.Joined();
        return shell.RunCommandLine(line);
    }
    CWin32Shell shell;
    std::string lastLine;
};

// One test, since it changes a machine-wide association that parallel tests must not see
// half-changed.
TEST_F(BrowserCommandTest, TheRegisteredCommandIsReadCutAndStarted) {
    const std::string command = "cmd.exe /c exit \"%1\" --new-window";
    SetDefault(std::string(kTestClass) + "\\shell\\open\\command", command);
    CFallbackOnly shell;
    EXPECT_EQ(shell.ReadBrowserCommand(), command);

    EXPECT_GT(OpenTarget(shell, "http://www.kavro.example/x.txt"), 31);
    EXPECT_EQ(shell.lastLine, "cmd.exe /c exit  http://www.kavro.example/x.txt");

    // A bare host name, the catalogue's default link, is a web address too.
    EXPECT_GT(OpenTarget(shell, "www.kavro.example"), 31);

    // Expandable commands are filled in; over-long ones and missing ones are not used.
    const std::string key = std::string(kTestClass) + "\\shell\\open\\command";
    SetDefault(key, "%SystemRoot%\\system32\\cmd.exe /c exit %1", REG_EXPAND_SZ);
    const std::optional<std::string> expanded = shell.ReadBrowserCommand();
    ASSERT_TRUE(expanded.has_value());
    EXPECT_EQ(expanded->find("%SystemRoot%"), std::string::npos);
    EXPECT_NE(expanded->find("\\system32\\cmd.exe /c exit %1"), std::string::npos);
    EXPECT_GT(OpenTarget(shell, "http://www.kavro.example/"), 31);

    SetDefault(key, "cmd.exe /c exit " + std::string(300, 'x') + " %1");
    EXPECT_EQ(shell.ReadBrowserCommand(), std::nullopt);
    EXPECT_EQ(OpenTarget(shell, "http://www.kavro.example/"), 31); // the shell's code stands
    RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestClass);
    EXPECT_EQ(shell.ReadBrowserCommand(), std::nullopt);
}

// A catalogue arrives over plain http: its link targets must not start programs, open shares or
// add arguments to the browser's command line.
TEST(Win32Shell, TargetsThatAreNotWebAddressesAreRefused) {
    CWin32Shell shell;
    for (const std::string target :
         {"C:\\windows\\system32\\notepad.exe", "\\\\server\\share\\setup.exe",
          "file:///C:/windows/win.ini", "http://www.kavro.example/a b", "http://x/\" --evil", "",
          "-h"}) {
        EXPECT_EQ(shell.OpenUrl(target), 5) << target;
        EXPECT_EQ(shell.RunCommandLine({"cmd.exe /c exit", target}), 5) << target;
    }
}

} // namespace
} // namespace crenovix::win32

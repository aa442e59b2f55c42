#include "controls/win32/Win32Shell.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>

namespace crenovix::win32 {

namespace {

// The shell's "access denied" (SE_ERR_ACCESSDENIED): the reason shown for a refused target.
constexpr std::int32_t kRefused = kLinkRefused;

// The default value of HKEY_CLASSES_ROOT\<subKey>, as REG_SZ or expanded REG_EXPAND_SZ, when it
// fits into the registry value buffer with its terminating zero.
std::optional<std::string> ReadDefaultValue(const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    char buffer[kRegistryValueBytes] = {};
    DWORD type = 0;
    DWORD bytes = sizeof buffer;
    const LONG status =
        RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return std::nullopt;
    }
    // The stored value need not end with a zero; the text ends at the first one.
    std::string value(buffer, std::min<std::size_t>(bytes, sizeof buffer));
    value.resize(std::min(value.size(), value.find('\0')));
    if (value.size() >= kRegistryValueBytes) {
        return std::nullopt; // no room for the terminating zero: not read whole
    }
    if (type == REG_EXPAND_SZ) {
        char expanded[kRegistryValueBytes] = {};
        const DWORD needed = ExpandEnvironmentStringsA(value.c_str(), expanded, sizeof expanded);
        if (needed == 0 || needed > sizeof expanded) {
            return std::nullopt;
        }
        value = expanded;
    }
    return value;
}

} // namespace

std::int32_t CWin32Shell::OpenUrl(const std::string& url) {
    const std::optional<std::string> address = LinkWebAddress(url);
    if (!address) {
        return kRefused;
    }
    const HINSTANCE code =
        ShellExecuteA(nullptr, "open", address->c_str(), nullptr, nullptr, SW_SHOW);
    return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(code));
}

std::optional<std::string> CWin32Shell::ReadBrowserCommand() {
    const std::optional<std::string> documentClass = ReadDefaultValue(".htm");
    if (!documentClass || documentClass->empty()) {
        return std::nullopt;
    }
    return ReadDefaultValue(*documentClass + "\\shell\\open\\command");
}

std::int32_t CWin32Shell::RunCommandLine(const SCommandLine& line) {
    const std::optional<std::string> address = LinkWebAddress(line.target);
    if (!address || line.program.find_first_not_of(' ') == std::string::npos) {
        return kRefused;
    }
    const SCommandLine checked{line.program, *address};
    if (checked.Joined().size() + 1 > kCommandBufferBytes) {
        return kRefused; // the "http://" added to a bare host name made it too long
    }
    return static_cast<std::int32_t>(WinExec(checked.Joined().c_str(), SW_SHOW));
}

} // namespace crenovix::win32

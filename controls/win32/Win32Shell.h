// CWin32Shell: what a link click needs of Windows (IShell).
//
// OpenUrl is ShellExecuteA with the verb "open". ReadBrowserCommand reads the command registered
// for ".htm" documents under HKEY_CLASSES_ROOT: the default value of ".htm" names the document
// class, and the default value of "<class>\shell\open\command" is the command line (an
// expandable value has its environment variables filled in). A value that does not fit into
// kRegistryValueBytes, or that cannot be read, gives nothing. RunCommandLine starts the joined
// command line with WinExec and SW_SHOW and does not wait for it.
//
// Targets: OpenTarget lets only web addresses through (LinkWebAddress, controls/HyperLink.h);
// OpenUrl and RunCommandLine apply the same rule again, so a caller that skips it is refused too,
// with code 5 ("denied access"), without asking the system.
//
// Codes: the shell's own (above 32 on success) and WinExec's (above 31 on success, 0, 2, 3 or
// 11 on failure), as IShell documents.
#pragma once

#include "controls/HyperLink.h"

#include <optional>
#include <string>
#include <string_view>

namespace crenovix::win32 {

class CWin32Shell final : public IShell {
public:
    std::int32_t OpenUrl(const std::string& url) override;
    std::optional<std::string> ReadBrowserCommand() override;
    std::int32_t RunCommandLine(const SCommandLine& line) override;
};

} // namespace crenovix::win32

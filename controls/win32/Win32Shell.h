// CWin32Shell: what a link click needs of Windows (IShell).
//
// OpenUrl is ShellExecuteA with the verb "open". ReadBrowserCommand reads the command registered
// for ".htm" documents under HKEY_CLASSES_ROOT: the default value of ".htm" names the document
// class, and the default value of "<class>\shell\open\command" is the command line (an
// expandable value has its environment variables filled in). A value that does not fit into
// kRegistryValueBytes, or that cannot be read, gives nothing. RunCommandLine starts the joined
// command line with WinExec and SW_SHOW and does not wait for it.
//
// Targets: every link of the program opens a web address from the catalogue or the built-in
// servers, and the catalogue arrives over plain http. The shell would run a program or open a
// share that a target names, and a blank or quote in a target would add arguments to the
// browser's command line, so only web addresses are opened: "http://..." and "https://...",
// and a bare host name with an optional port and path ("www.kavro.example", the catalogue's
// default "Software" "URL"), which is opened as "http://" followed by it. Anything else, and any
// target with blanks, quotes or control characters, is refused with code 5 ("denied access")
// without asking the system.
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

// The address a link may open for `target` (see above), or nothing when it is refused.
std::optional<std::string> ShellWebAddress(std::string_view target);

} // namespace crenovix::win32

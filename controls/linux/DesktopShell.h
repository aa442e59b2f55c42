// CDesktopShell: what a link click needs of a Linux desktop (IShell).
//
// OpenUrl asks the desktop to open the address: "xdg-open URL", or "gio open URL" when xdg-open
// is not installed, started without a shell; it waits up to SDesktopShellTimes::openerWait for
// the opener's exit status. ReadBrowserCommand gives the default web browser's command line:
// "xdg-mime query default text/html" names a desktop file, which is looked up as
// "applications/<name>" in $XDG_DATA_HOME (default ~/.local/share), then in $XDG_DATA_DIRS
// (default /usr/local/share:/usr/share); its [Desktop Entry] "Exec" value, with the desktop
// file's escapes resolved, becomes the command with the first of the field codes %u, %U, %f, %F
// turned into "%1" (so the portable cutting rule cuts there), later ones and the other field
// codes (%i, %c, %k and the deprecated ones) removed, and "%%" turned into "%". RunCommandLine
// splits the cut command by the desktop files' quoting rules, appends the target as one
// argument and starts it without a shell, without waiting for it.
//
// Codes: 33 means opened or started. Failures map onto the shell's table (OpenErrorText):
//   xdg-open exit 0, or still running after openerWait      33 (browsers that stay in the
//                                                            foreground keep xdg-open waiting)
//   xdg-open exit 1 (bad arguments), 2 (file not found)      2  "file not found"
//   xdg-open exit 3 (no program to open it with)            31 "no application associated"
//   xdg-open exit 4 (the program failed) and other exits,
//     the opener ended by a signal                           27 "association incomplete or invalid"
//   gio open exit other than 0                               31
//   neither xdg-open nor gio installed                       31
//   a target that is not a web address (LinkWebAddress)      5, nothing is started
//   starting a program failed: ENOENT 2, ENOTDIR 3, EACCES or EPERM 5, ENOMEM 8,
//     ENOEXEC 11, anything else 0
//   a browser command with no program before the placeholder 2, nothing is started
#pragma once

#include "controls/HyperLink.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace crenovix {

struct SDesktopShellTimes {
    // How long a click waits for the opener's verdict; it normally hands over and ends at once.
    std::chrono::milliseconds openerWait{3000};
    // How long xdg-mime may take to name the default browser.
    std::chrono::milliseconds queryWait{3000};
};

class CDesktopShell final : public IShell {
public:
    explicit CDesktopShell(SDesktopShellTimes times = {}) : times_(times) {}

    std::int32_t OpenUrl(const std::string& url) override;
    std::optional<std::string> ReadBrowserCommand() override;
    std::int32_t RunCommandLine(const SCommandLine& line) override;

private:
    SDesktopShellTimes times_;
};

// The rules above, for tests and other callers.

// The [Desktop Entry] group's "Exec" value of a desktop file's text, as written.
std::optional<std::string> DesktopEntryExec(std::string_view desktopFile);
// An "Exec" value as a command with "%1" where the address goes (escapes and field codes).
std::string ExecToCommand(std::string_view exec);
// A command line split into arguments by the desktop files' quoting rules: blanks separate,
// double quotes group, and inside them a backslash escapes ", `, $ and backslash.
std::vector<std::string> SplitCommandArguments(std::string_view command);
// The folders searched for desktop files, in order.
std::vector<std::string> ApplicationFolders();
// The shell code for an errno of starting a program.
std::int32_t CodeForStartError(int error);

} // namespace crenovix

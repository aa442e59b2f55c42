// The rules behind CHyperLink, the clickable link of the main window (1023) and of the download
// window (1024): which colour the text is drawn in, how the control shrinks to its text, how a
// click opens the target (the shell first, then the default browser's command line) and which
// text a failed open shows.
//
// The window side (painting, cursor, tooltip, font) belongs to the toolkit's control; it keeps an
// SHyperLinkState and asks these functions. Opening goes through IShell, which the Linux desktop
// (controls/linux/DesktopShell.h), the Windows shell (controls/win32/Win32Shell.h) and the
// tests' fake implement.
//
// Codes follow the shell's convention: a code above 32 means the target was opened; 0 to 32 name
// the reason of a failure (see OpenErrorText). Geometry is in pixels of the parent's client area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix {

// A colour as 0x00BBGGRR.
using ColorRef = std::uint32_t;

constexpr ColorRef Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<ColorRef>(red) | (static_cast<ColorRef>(green) << 8) |
           (static_cast<ColorRef>(blue) << 16);
}

inline constexpr ColorRef kLinkNormalColour = Rgb(0, 0, 238);    // 0x00EE0000: not opened yet
inline constexpr ColorRef kLinkVisitedColour = Rgb(85, 26, 139); // 0x008B1A55: opened

// The control's fields that decide something. crHover is the system highlight colour, which the
// control reads when it is constructed.
struct SHyperLinkState {
    ColorRef crNormal = kLinkNormalColour;
    ColorRef crVisited = kLinkVisitedColour;
    ColorRef crHover = 0;
    bool bPointerInside = false; // pointer over the control (the control tracks it until it leaves)
    bool bOpened = false;        // the last click opened the target
    bool bUnderlined = true;
    bool bFitToText = true;
    std::string strTarget; // what a click opens
};

// Hover while the pointer is inside, else visited after a successful click, else normal.
ColorRef LinkTextColour(const SHyperLinkState& state);

// What a pointer movement changes. Entered and Left both mean "repaint now"; Entered also means
// "keep receiving movements until the pointer leaves" (mouse capture), Left "stop doing so".
enum class EPointerChange { None, Entered, Left };
EPointerChange TrackPointer(SHyperLinkState& state, bool insideClientArea);

// Attaching to a window: an empty target takes the window text, then an empty window text takes
// the target. Both are updated in place.
void AttachLinkText(SHyperLinkState& state, std::string& windowText);

// --- Fitting the control to its text -------------------------------------------------------

inline constexpr std::uint32_t kSsCenter = 0x1;        // centred text: keep the centre
inline constexpr std::uint32_t kSsRight = 0x2;         // right-aligned text: keep the right edge
inline constexpr std::uint32_t kSsNotify = 0x100;      // reports clicks
inline constexpr std::uint32_t kSsCenterImage = 0x200; // vertically centred: keep the middle

struct SRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const SRect&, const SRect&) = default;
};

struct SSize {
    int cx = 0;
    int cy = 0;
};

// The rectangle of a control that has been shrunk to a text of size `text`. Vertically: with
// kSsCenterImage each edge moves in by (height - cy) / 2, else the bottom becomes top + cy.
// Horizontally: kSsCenter moves each edge in by (width - cx) / 2, else kSsRight sets left =
// right - cx, else right = left + cx. Divisions truncate toward zero; a text larger than the
// rectangle makes the difference negative and widens it instead.
SRect FitToText(SRect rect, SSize text, std::uint32_t style);

// --- Opening the target ---------------------------------------------------------------------

// The default browser's command cut at its URL placeholder (`program`) and the target that goes
// after one blank. Kept apart so that a system that starts programs without a shell can pass
// the target as one argument; Joined() is the command line as one text.
struct SCommandLine {
    std::string program;
    std::string target;
    std::string Joined() const { return program + " " + target; }
    friend bool operator==(const SCommandLine&, const SCommandLine&) = default;
};

// The system services a click needs.
class IShell {
public:
    virtual ~IShell() = default;
    // Asks the system to open `url` the way the desktop opens documents and addresses. Returns a
    // code above 32 (compared unsigned) on success, otherwise a failure code of the table.
    virtual std::int32_t OpenUrl(const std::string& url) = 0;
    // The default web browser's registered command line, with "%1" where the address goes.
    // Nothing when there is no default browser or its command cannot be read.
    virtual std::optional<std::string> ReadBrowserCommand() = 0;
    // Starts `line` (program, one blank, target) and does not wait for it to end. Returns a code
    // above 31 when the program was started, else a failure code of the table.
    virtual std::int32_t RunCommandLine(const SCommandLine& line) = 0;
};

// The fallback's buffers: the command line holds 520 bytes and a registry value 260, each with
// its terminating zero. A command that does not fit is never used.
inline constexpr std::size_t kCommandBufferBytes = 520;
inline constexpr std::size_t kRegistryValueBytes = 260;

// `command` cut at its first "\"%1\"" (at the opening quote), else at its first bare "%1", else
// kept whole. Whatever stood after the placeholder is dropped.
std::string CutAtPlaceholder(std::string_view command);

// The fallback's command line for `command` and `url`, or nothing when the command is too long
// to have been read (260 bytes or more) or the command line (cut command, blank, URL and the
// terminating zero) would not fit into the 520-byte buffer.
std::optional<SCommandLine> BrowserCommandLine(std::string_view command, const std::string& url);

// Only web addresses are fetched or opened: "http://..." or "https://..." (scheme in any letter
// case, something after it). A catalogue entry naming file: or another scheme could otherwise
// copy local files or start programs.
bool IsWebAddress(std::string_view url);

// The address a link may open for `target`, or nothing when it is refused. Every target comes
// from the catalogue (fetched over plain http) or the built-in servers, and an opener would run
// a program or open a share or a local file that a target names, while a blank or quote would
// add arguments to a browser's command line. So only web addresses pass: "http://..." and
// "https://...", and a bare host name with an optional port and path ("www.kavro.example", the
// catalogue's default "Software" "URL"), which becomes "http://" followed by it. Anything else,
// and any target with blanks, quotes or control characters, is refused.
std::optional<std::string> LinkWebAddress(std::string_view target);

// The code of a refused target: the shell's "access denied", whose text the link shows.
inline constexpr std::int32_t kLinkRefused = 5;

// Opens `url`: a target LinkWebAddress refuses gives kLinkRefused and reaches no opener; the
// web address it gives goes to the shell first; when its code is 32 or below (compared
// unsigned), to the default browser's command line. The shell's code stands when there is no
// browser command or it does not fit (see BrowserCommandLine); otherwise the result is that of
// starting the command line.
std::int32_t OpenTarget(IShell& shell, const std::string& url);

// A click: opens strTarget and sets bOpened to (code > 32, compared signed), so a failed click
// clears an earlier success. Returns the code; when bOpened is false afterwards the control beeps
// and shows LinkErrorText(code, strTarget) with the exclamation icon.
std::int32_t ClickLink(SHyperLinkState& state, IShell& shell);

// "Unable to open hyperlink:\n\n" and the reason for `code`; codes above 32 (compared unsigned)
// and codes the table does not list give "Unknown Error (<code as signed decimal>) occurred.".
std::string OpenErrorText(std::int32_t code);

// What a failed click shows: OpenErrorText(code), then, after a blank line, the web address the
// link would have opened, so that the user can copy it into a browser by hand. A target that
// LinkWebAddress refuses is not repeated.
std::string LinkErrorText(std::int32_t code, std::string_view target);

} // namespace crenovix

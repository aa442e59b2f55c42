#include "controls/HyperLink.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace crenovix {

namespace {

struct SOpenError {
    std::int32_t code;
    const char* reason;
};

// The shell's failure codes and the reasons the user reads. Every code the Linux desktop reports
// (controls/linux/DesktopShell.h) is one of these, so both systems show the same texts.
constexpr std::array<SOpenError, 13> kOpenErrors{{
    {0, "The operating system is out\nof memory or resources."},
    {2, "The specified file was not found."},
    {3, "The specified path was not found."},
    {5, "The operating system denied\naccess to the specified file."},
    {8, "There was not enough memory to complete the operation."},
    {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
    {26, "A sharing violation occurred. "},
    {27, "The filename association is\nincomplete or invalid."},
    {28, "The DDE transaction could not\nbe completed because the request timed out."},
    {29, "The DDE transaction failed."},
    {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
         "being processed."},
    {31, "There is no application associated\nwith the given filename extension."},
    {32, "The specified dynamic-link library was not found."},
}};

bool ShellSucceeded(std::int32_t code) {
    return static_cast<std::uint32_t>(code) > 32u;
}

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == ':';
}

} // namespace

bool IsWebAddress(std::string_view url) {
    const auto startsWith = [url](std::string_view scheme) {
        return url.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                   return a == ((b >= 'A' && b <= 'Z') ? static_cast<char>(b - 'A' + 'a') : b);
               });
    };
    return startsWith("http://") || startsWith("https://");
}

std::optional<std::string> LinkWebAddress(std::string_view target) {
    const bool unsafe = std::any_of(target.begin(), target.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7F || c == '"';
    });
    if (target.empty() || unsafe) {
        return std::nullopt;
    }
    if (IsWebAddress(target)) {
        return std::string(target);
    }
    // A bare host name: letters, digits, dots, hyphens and a port up to the first "/", with a
    // dot in it and no scheme before it.
    const std::string_view host = target.substr(0, target.find('/'));
    const std::size_t colon = host.find(':');
    const std::string_view name = host.substr(0, colon);
    const std::string_view port =
        colon == std::string_view::npos ? std::string_view() : host.substr(colon + 1);
    const bool portOk = colon == std::string_view::npos ||
                        (!port.empty() && std::all_of(port.begin(), port.end(),
                                                      [](char c) { return c >= '0' && c <= '9'; }));
    if (name.empty() || name.find('.') == std::string_view::npos || name.front() == '.' ||
        name.front() == '-' || !portOk || !std::all_of(host.begin(), host.end(), IsHostCharacter)) {
        return std::nullopt;
    }
    return "http://" + std::string(target);
}

ColorRef LinkTextColour(const SHyperLinkState& state) {
    if (state.bPointerInside) {
        return state.crHover;
    }
    return state.bOpened ? state.crVisited : state.crNormal;
}

EPointerChange TrackPointer(SHyperLinkState& state, bool insideClientArea) {
    if (state.bPointerInside) {
        if (insideClientArea) {
            return EPointerChange::None;
        }
        state.bPointerInside = false;
        return EPointerChange::Left;
    }
    // Any movement the control receives while not tracking is the pointer arriving.
    state.bPointerInside = true;
    return EPointerChange::Entered;
}

void AttachLinkText(SHyperLinkState& state, std::string& windowText) {
    if (state.strTarget.empty()) {
        state.strTarget = windowText;
    }
    if (windowText.empty()) {
        windowText = state.strTarget;
    }
}

SRect FitToText(SRect rect, SSize text, std::uint32_t style) {
    if ((style & kSsCenterImage) != 0) {
        const int inset = (rect.bottom - rect.top - text.cy) / 2;
        rect.top += inset;
        rect.bottom -= inset;
    } else {
        rect.bottom = rect.top + text.cy;
    }
    if ((style & kSsCenter) != 0) {
        const int inset = (rect.right - rect.left - text.cx) / 2;
        rect.left += inset;
        rect.right -= inset;
    } else if ((style & kSsRight) != 0) {
        rect.left = rect.right - text.cx;
    } else {
        rect.right = rect.left + text.cx;
    }
    return rect;
}

std::string CutAtPlaceholder(std::string_view command) {
    std::size_t cut = command.find("\"%1\"");
    if (cut == std::string_view::npos) {
        cut = command.find("%1");
    }
    return std::string(command.substr(0, cut));
}

std::optional<SCommandLine> BrowserCommandLine(std::string_view command, const std::string& url) {
    if (command.size() >= kRegistryValueBytes) {
        return std::nullopt; // longer than the value buffer: it could not have been read whole
    }
    SCommandLine line{CutAtPlaceholder(command), url};
    if (line.program.size() + 1 + line.target.size() + 1 > kCommandBufferBytes) {
        return std::nullopt;
    }
    return line;
}

std::int32_t OpenTarget(IShell& shell, const std::string& target) {
    const std::optional<std::string> address = LinkWebAddress(target);
    if (!address) {
        return kLinkRefused;
    }
    const std::string& url = *address;
    const std::int32_t code = shell.OpenUrl(url);
    if (ShellSucceeded(code)) {
        return code;
    }
    const std::optional<std::string> command = shell.ReadBrowserCommand();
    if (!command) {
        return code;
    }
    const std::optional<SCommandLine> line = BrowserCommandLine(*command, url);
    if (!line) {
        return code; // an over-long command line is never started; the shell's answer stands
    }
    return shell.RunCommandLine(*line);
}

std::int32_t ClickLink(SHyperLinkState& state, IShell& shell) {
    const std::int32_t code = OpenTarget(shell, state.strTarget);
    state.bOpened = code > 32;
    return code;
}

std::string OpenErrorText(std::int32_t code) {
    std::string text = "Unable to open hyperlink:\n\n";
    if (!ShellSucceeded(code)) {
        for (const SOpenError& entry : kOpenErrors) {
            if (entry.code == code) {
                return text + entry.reason;
            }
        }
    }
    char unknown[64];
    std::snprintf(unknown, sizeof unknown, "Unknown Error (%d) occurred.", static_cast<int>(code));
    return text + unknown;
}

std::string LinkErrorText(std::int32_t code, std::string_view target) {
    std::string text = OpenErrorText(code);
    if (const std::optional<std::string> address = LinkWebAddress(target)) {
        text += "\n\n" + *address;
    }
    return text;
}

} // namespace crenovix

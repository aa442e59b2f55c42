// Opening a link on arbitrary registered browser commands and URLs: the cut at the "%1"
// placeholder, the fallback's bounded command line, and OpenTarget / ClickLink with a shell that
// fails or succeeds as the input says.
//
// Input: byte 0 the shell's answer to opening (a signed byte, widened), byte 1 its answer to
// starting a command line, byte 2 bit 0 set when a default browser command exists, then the
// command up to the first line feed and the URL after it.
//
// Besides not crashing: the cut keeps a beginning of the command and no quoted placeholder; the
// command line is used only when the command fits its 260-byte value and the line its 520-byte
// buffer; the fallback runs only after the shell failed, at most once, with the URL unchanged
// after one blank; ClickLink's "opened" follows the code.
#include "controls/HyperLink.h"
#include "support/FakeShell.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace crenovix;
using testsupport::CFakeShell;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "browser-command fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void Require(bool condition, const char* what) {
    if (!condition) {
        Fail(what);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const auto openCode = static_cast<std::int32_t>(static_cast<std::int8_t>(data[0]));
    const auto runCode = static_cast<std::int32_t>(static_cast<std::int8_t>(data[1]));
    const bool hasCommand = (data[2] & 1) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
    const std::size_t newline = rest.find('\n');
    const std::string command(rest.substr(0, newline));
    const std::string url(newline == std::string_view::npos ? std::string_view()
                                                            : rest.substr(newline + 1));

    // The cut.
    const std::string program = CutAtPlaceholder(command);
    Require(std::string_view(command).starts_with(program), "the cut is not a beginning");
    Require(program.find("\"%1\"") == std::string::npos, "the cut kept a quoted placeholder");
    if (command.find("%1") == std::string::npos) {
        Require(program == command, "a command without a placeholder was cut");
    } else {
        Require(program.size() < command.size(), "a placeholder was left at the end");
    }

    // The bounded command line.
    const std::optional<SCommandLine> line = BrowserCommandLine(command, url);
    const bool fits = command.size() < kRegistryValueBytes &&
                      program.size() + 1 + url.size() + 1 <= kCommandBufferBytes;
    Require(line.has_value() == fits, "a command line used or refused against its buffers");
    if (line) {
        Require(line->program == program && line->target == url, "the command line's parts");
        Require(line->Joined() == program + " " + url, "the joined command line");
        Require(line->Joined().size() + 1 <= kCommandBufferBytes, "the command line overflows");
    }

    // Opening through the shell, then the fallback.
    CFakeShell shell;
    shell.openCode = openCode;
    shell.runCode = runCode;
    if (hasCommand) {
        shell.browserCommand = command;
    }
    const std::int32_t code = OpenTarget(shell, url);
    // Only web addresses reach an opener, in their "http://" form when the target was bare.
    const std::optional<std::string> address = LinkWebAddress(url);
    if (!address) {
        Require(code == kLinkRefused && shell.log.empty() && shell.runs.empty(),
                "a target that is no web address reached an opener");
    } else {
        const std::optional<SCommandLine> opened = BrowserCommandLine(command, *address);
        const bool shellOpened = static_cast<std::uint32_t>(openCode) > 32u;
        const bool fallback = !shellOpened && hasCommand && opened.has_value();
        Require(!shell.log.empty() && shell.log[0] == "open " + *address,
                "the shell is not asked first");
        Require(shell.runs.size() == (fallback ? 1u : 0u), "the fallback ran when it should not");
        Require(code == (fallback ? runCode : openCode), "OpenTarget answered another code");
        if (fallback) {
            Require(shell.runs[0] == *opened, "the fallback started another command line");
        }
        if (shellOpened) {
            Require(shell.log.size() == 1, "the browser command was read after the shell opened");
        }
    }

    SHyperLinkState state;
    state.strTarget = url;
    state.bOpened = true;
    CFakeShell second = shell;
    second.log.clear();
    second.runs.clear();
    Require(ClickLink(state, second) == code, "a click answered another code");
    Require(state.bOpened == (code > 32), "\"opened\" does not follow the code");
    const std::string text = OpenErrorText(code);
    Require(text.starts_with("Unable to open hyperlink:\n\n") &&
                text.size() > sizeof("Unable to open hyperlink:\n\n") - 1,
            "the failure text");
    return 0;
}

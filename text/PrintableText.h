// Texts that come from update files, devices and the network, made safe to print on a terminal.
//
// Such a text is data: it must not clear the screen, retitle the window, move the cursor or
// forge a line of the program's own output. Printable keeps printable UTF-8 as it is and shows
// everything else as an escape: "\t", "\r", "\n", "\\" for those characters, "\xNN" for the other
// C0 controls, DEL and every byte that is not part of valid UTF-8, "\u0080".."\u009F" for the C1
// controls. The result is plain ASCII wherever the input was not printable UTF-8, so it also
// keeps tab-separated columns and one-line messages intact.
#pragma once

#include "base/Utf8.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix {

// Every control character escaped.
std::string Printable(std::string_view text);

// For multi-line texts such as a memo: each line break ("\r\n", "\n" or a lone "\r") becomes a
// newline followed by `indent`, so the text stays readable and no line it prints can start
// where the program's own lines start; everything else as Printable.
std::string PrintableLines(std::string_view text, std::string_view indent);

} // namespace crenovix

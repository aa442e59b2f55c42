#include "text/PrintableText.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace crenovix {

namespace {

std::string Escape(const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One routine for both forms: `indent` set keeps line breaks as newlines.
std::string Render(std::string_view text, const std::string_view* indent) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        if (indent != nullptr && (text[0] == '\r' || text[0] == '\n')) {
            const std::size_t breakLength = text.starts_with("\r\n") ? 2 : 1;
            out += '\n';
            out += *indent;
            text.remove_prefix(breakLength);
            continue;
        }
        char32_t codePoint = 0;
        const std::optional<std::size_t> length = Utf8Sequence(text, codePoint);
        if (!length) {
            out += Escape("\\x%02X", static_cast<std::uint8_t>(text[0]));
            text.remove_prefix(1);
            continue;
        }
        switch (codePoint) {
        case U'\t':
            out += "\\t";
            break;
        case U'\r':
            out += "\\r";
            break;
        case U'\n':
            out += "\\n";
            break;
        case U'\\':
            out += "\\\\";
            break;
        default:
            if (codePoint < 0x20 || codePoint == 0x7F) {
                out += Escape("\\x%02X", static_cast<unsigned>(codePoint));
            } else if (codePoint >= 0x80 && codePoint <= 0x9F) {
                out += Escape("\\u%04X", static_cast<unsigned>(codePoint));
            } else {
                out.append(text.substr(0, *length));
            }
        }
        text.remove_prefix(*length);
    }
    return out;
}

} // namespace

std::string Printable(std::string_view text) {
    return Render(text, nullptr);
}

std::string PrintableLines(std::string_view text, std::string_view indent) {
    return Render(text, &indent);
}

} // namespace crenovix

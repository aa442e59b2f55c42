#include "text/Json.h"

#include "text/PrintableText.h"

#include <cstdio>

namespace crenovix {

namespace {} // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    while (!text.empty()) {
        char32_t codePoint = 0;
        const std::optional<std::size_t> length = Utf8Sequence(text, codePoint);
        if (!length) {
            codePoint = static_cast<std::uint8_t>(text[0]);
        }
        text.remove_prefix(length.value_or(1));
        switch (codePoint) {
        case U'"':
            out += "\\\"";
            break;
        case U'\\':
            out += "\\\\";
            break;
        case U'\n':
            out += "\\n";
            break;
        case U'\r':
            out += "\\r";
            break;
        case U'\t':
            out += "\\t";
            break;
        default:
            if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F)) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(codePoint));
                out += escape;
            } else {
                AppendUtf8(out, codePoint);
            }
        }
    }
    return out + "\"";
}

CJsonObject& CJsonObject::AddRaw(std::string_view name, std::string_view json) {
    if (text_.size() > 1) {
        text_ += ", ";
    }
    text_ += JsonString(name);
    text_ += ": ";
    text_ += json;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view name, std::string_view text) {
    return AddRaw(name, JsonString(text));
}

CJsonObject& CJsonObject::Add(std::string_view name, std::int64_t number) {
    return AddRaw(name, std::to_string(number));
}

CJsonObject& CJsonObject::Add(std::string_view name, bool flag) {
    return AddRaw(name, flag ? "true" : "false");
}

} // namespace crenovix

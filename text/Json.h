// The few JSON texts the command line and the doctor write (JSON Lines on standard output,
// traces, the doctor's report): one object per line, built field by field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace crenovix {

// `text` as a JSON string, quotes included. Control characters (C0, DEL, C1) are escaped, so the
// line is safe on a terminal too; bytes that are not
// valid UTF-8 become the code points U+0080..U+00FF of the same value, so the line stays valid.
std::string JsonString(std::string_view text);

class CJsonObject {
public:
    CJsonObject& Add(std::string_view name, std::string_view text);
    CJsonObject& Add(std::string_view name, const char* text) {
        return Add(name, std::string_view(text));
    }
    CJsonObject& Add(std::string_view name, std::int64_t number);
    CJsonObject& Add(std::string_view name, bool flag);
    CJsonObject& AddRaw(std::string_view name, std::string_view json);
    // The object, without a line end.
    std::string Text() const { return text_ + "}"; }

private:
    std::string text_ = "{";
};

} // namespace crenovix

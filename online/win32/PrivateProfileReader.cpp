#include "online/win32/PrivateProfileReader.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <string>
#include <string_view>
#include <vector>

namespace crenovix {

namespace {

// Enough of a value to see whether its number goes beyond the int range.
constexpr std::size_t kNumberTextBytes = 64;
// The longest value read whole: our own reader reads no more of a file.
constexpr std::size_t kMaxValueBytes = 1024 * 1024;

// Whether `text` is, after blanks and an optional "+", a run of decimal digits whose value is
// above INT_MAX.
bool BeyondIntRange(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    long long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        number = number * 10 + (c - '0');
        if (number > INT_MAX) {
            return true;
        }
    }
    return false;
}

class CPrivateProfile final : public IIniSource {
public:
    explicit CPrivateProfile(std::string fullPath) : path_(std::move(fullPath)) {}

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferBytes) override {
        if (bufferBytes == 0) {
            return {};
        }
        // The whole value first: whether it is UTF-8, and where a character ends, are decided
        // on all of it, as our own reader does.
        std::vector<char> buffer(1024, '\0');
        for (;;) {
            const DWORD length = GetPrivateProfileStringA(
                section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                static_cast<DWORD>(buffer.size()), path_.c_str());
            if (length + 1 < buffer.size() || buffer.size() >= kMaxValueBytes) {
                return Utf8ToAnsi(
                    IniValueText(std::string_view(buffer.data(), length), bufferBytes - 1));
            }
            buffer.assign(buffer.size() * 2, '\0');
        }
    }

    int GetInt(const std::string& section, const std::string& key, int defaultValue) override {
        const int value = static_cast<int>(
            GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path_.c_str()));
        if (BeyondIntRange(GetString(section, key, "", kNumberTextBytes))) {
            return INT_MAX; // the system wraps such values round: "4294967297" would read as 1
        }
        // A negative answer that is not the default comes from a negative value in the file.
        return value < 0 && value != defaultValue ? 0 : value;
    }

private:
    std::string path_;
};

} // namespace

std::string Utf8ToAnsi(const std::string& text) {
    if (text.empty() || GetACP() == CP_UTF8) {
        return text;
    }
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring unicode(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, unicode.data(), wide);
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, unicode.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, unicode.data(), wide, ansi.data(), bytes, nullptr, nullptr);
    return ansi;
}

std::unique_ptr<IIniSource> CPrivateProfileReader::Open(const std::string& path) {
    if (path.empty()) {
        return ParseIniText("");
    }
    const DWORD needed = GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return ParseIniText(""); // a path the system cannot resolve names no readable file
    }
    std::string fullPath(needed, '\0');
    const DWORD length = GetFullPathNameA(path.c_str(), needed, fullPath.data(), nullptr);
    if (length == 0 || length >= needed) {
        return ParseIniText("");
    }
    fullPath.resize(length);
    return std::make_unique<CPrivateProfile>(std::move(fullPath));
}

} // namespace crenovix

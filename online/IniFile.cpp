#include "online/IniFile.h"

#include "base/Utf8.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <string_view>
#include <utility>
#include <vector>

namespace crenovix {

namespace {

constexpr std::size_t kMaxIniBytes = 1024 * 1024;

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

std::string CutToBuffer(std::string_view value, std::size_t bufferBytes) {
    if (bufferBytes == 0) {
        return {};
    }
    return IniValueText(value, bufferBytes - 1);
}

// Windows-1252's characters 0x80 to 0x9F; the five it leaves undefined keep their C1 code, as
// the system's conversion gives them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

class CParsedIni final : public IIniSource {
public:
    explicit CParsedIni(std::string_view text) { Parse(text); }

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferBytes) override {
        const std::string* value = Find(section, key);
        return CutToBuffer(value != nullptr ? std::string_view(*value) : defaultValue, bufferBytes);
    }

    int GetInt(const std::string& section, const std::string& key, int defaultValue) override {
        const std::string* value = Find(section, key);
        if (value == nullptr) {
            return defaultValue;
        }
        std::string_view text = Trim(*value);
        bool negative = false;
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
            negative = text.front() == '-';
            text.remove_prefix(1);
        }
        if (text.empty() || text.front() < '0' || text.front() > '9') {
            return defaultValue;
        }
        long long number = 0;
        for (const char c : text) {
            if (c < '0' || c > '9') {
                break;
            }
            number = std::min<long long>(number * 10 + (c - '0'), INT_MAX);
        }
        if (negative) {
            return 0;
        }
        return static_cast<int>(number);
    }

private:
    struct SSection {
        std::string name;
        std::vector<std::pair<std::string, std::string>> keys;
    };

    void Parse(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") {
            text.remove_prefix(3);
        }
        SSection* current = nullptr;
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            const std::string_view line = Trim(text.substr(0, end));
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
            if (line.empty() || line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                const std::size_t close = line.find(']');
                const std::string_view name =
                    Trim(line.substr(1, close == std::string_view::npos ? close : close - 1));
                sections_.push_back(SSection{std::string(name), {}});
                current = &sections_.back();
                continue;
            }
            const std::size_t equals = line.find('=');
            if (current == nullptr || equals == std::string_view::npos) {
                continue;
            }
            current->keys.emplace_back(std::string(Trim(line.substr(0, equals))),
                                       std::string(Unquote(Trim(line.substr(equals + 1)))));
        }
    }

    const std::string* Find(std::string_view section, std::string_view key) const {
        section = Trim(section);
        key = Trim(key);
        for (const SSection& candidate : sections_) {
            if (!SameName(candidate.name, section)) {
                continue;
            }
            for (const auto& [name, value] : candidate.keys) {
                if (SameName(name, key)) {
                    return &value;
                }
            }
            return nullptr; // only the first section of a name is searched
        }
        return nullptr;
    }

    std::vector<SSection> sections_;
};

} // namespace

std::string IniValueText(std::string_view value, std::size_t maxBytes) {
    std::size_t fits = 0; // bytes of whole UTF-8 characters within maxBytes
    for (std::size_t at = 0; at < value.size();) {
        char32_t codePoint = 0;
        const std::size_t length = Utf8Sequence(value.substr(at), codePoint).value_or(0);
        if (length == 0) {
            std::string text;
            for (const char c : value.substr(0, maxBytes)) {
                const auto byte = static_cast<unsigned char>(c);
                AppendUtf8(text, byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte);
            }
            return text;
        }
        at += length;
        if (at <= maxBytes) {
            fits = at;
        }
    }
    return std::string(value.substr(0, fits));
}

std::unique_ptr<IIniSource> ParseIniText(const std::string& text) {
    return std::make_unique<CParsedIni>(text);
}

std::unique_ptr<IIniSource> CIniFileReader::Open(const std::string& path) {
    // Read in small steps up to the limit: a catalogue is a few kilobytes, and a buffer of the
    // whole limit per read would be cleared for nothing.
    std::string text;
    std::ifstream file(path, std::ios::binary);
    char chunk[4096];
    while (file && text.size() < kMaxIniBytes) {
        const auto want =
            static_cast<std::streamsize>(std::min(sizeof chunk, kMaxIniBytes - text.size()));
        file.read(chunk, want);
        text.append(chunk, static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
    }
    return std::make_unique<CParsedIni>(text);
}

} // namespace crenovix

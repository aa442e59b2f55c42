#include "cli/Trace.h"

#include "cli/InputFile.h"
#include "text/Json.h"

#include <charconv>
#include <sstream>

namespace crenovix::cli {

namespace {

// The value after "name": in one of the trace's lines, as the JSON text it is.
std::optional<std::string_view> RawField(std::string_view line, std::string_view name) {
    std::string key = "\"";
    key.append(name);
    key += "\": ";
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    return line.substr(at + key.size());
}

std::optional<std::string> StringField(std::string_view line, std::string_view name) {
    std::optional<std::string_view> raw = RawField(line, name);
    if (!raw || raw->empty() || raw->front() != '"') {
        return std::nullopt;
    }
    std::string text;
    for (std::size_t i = 1; i < raw->size(); ++i) {
        const char c = (*raw)[i];
        if (c == '"') {
            return text;
        }
        if (c != '\\' || i + 1 >= raw->size()) {
            text += c;
            continue;
        }
        const char escaped = (*raw)[++i];
        switch (escaped) {
        case 'n':
            text += '\n';
            break;
        case 'r':
            text += '\r';
            break;
        case 't':
            text += '\t';
            break;
        case 'u': {
            unsigned value = 0;
            if (i + 4 >= raw->size() ||
                std::from_chars(raw->data() + i + 1, raw->data() + i + 5, value, 16).ec !=
                    std::errc()) {
                return std::nullopt;
            }
            // The trace's own writer escapes only control characters this way.
            text += static_cast<char>(value);
            i += 4;
            break;
        }
        default:
            text += escaped;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> NumberField(std::string_view line, std::string_view name) {
    const std::optional<std::string_view> raw = RawField(line, name);
    std::int64_t value = 0;
    if (!raw || std::from_chars(raw->data(), raw->data() + raw->size(), value).ec != std::errc()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::vector<std::uint8_t>> FromHex(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(hex.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char* first = hex.data() + 2 * i;
        if (std::from_chars(first, first + 2, bytes[i], 16).ptr != first + 2) {
            return std::nullopt;
        }
    }
    return bytes;
}

} // namespace

std::optional<STraceRun> ReadTrace(const std::string& path, std::string& error) {
    const SInputFile file = ReadInputFile(path, kMaxTraceBytes);
    if (file.status != EInputFile::Read) {
        error = file.status == EInputFile::TooBig ? "the trace is longer than any update's"
                                                  : "cannot read the trace";
        return std::nullopt;
    }
    std::istringstream lines(std::string(file.bytes.begin(), file.bytes.end()));
    std::optional<STraceRun> run;
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const auto port = StringField(line, "port");
        const auto dir = StringField(line, "dir");
        if (!port || !dir) {
            error = "line " + std::to_string(number) + " is not a trace line";
            return std::nullopt;
        }
        if (*dir == "start") {
            if (run) {
                continue; // another run of the same session
            }
            const auto type = StringField(line, "type");
            const auto serial = StringField(line, "serial");
            const auto seed = NumberField(line, "nonce_seed");
            if (!type || !serial || !seed) {
                error = "line " + std::to_string(number) + " does not name its charger";
                return std::nullopt;
            }
            run = STraceRun{*port, *type, *serial, static_cast<std::uint32_t>(*seed), {}};
            continue;
        }
        if (!run || *port != run->port) {
            continue;
        }
        const auto hex = StringField(line, "hex");
        const auto bytes = hex ? FromHex(*hex) : std::nullopt;
        if ((*dir != "out" && *dir != "in" && *dir != "discard") || !bytes) {
            error = "line " + std::to_string(number) + " is not a trace line";
            return std::nullopt;
        }
        run->events.push_back({*dir == "out", *dir == "discard", *bytes, number});
    }
    if (!run) {
        error = "the trace holds no run";
    }
    return run;
}

} // namespace crenovix::cli

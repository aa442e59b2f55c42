#include "app/Settings.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <vector>

namespace crenovix {

namespace {

// The lines of `text` without their line ends ("\r\n" as well as "\n").
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// The value of `line` when it sets `key`.
std::optional<std::string_view> ValueOf(std::string_view line, std::string_view key) {
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != '=') {
        return std::nullopt;
    }
    return line.substr(key.size() + 1);
}

std::string Joined(const char* folder, std::initializer_list<const char*> parts) {
    std::string path(folder);
    for (const char* part : parts) {
        path.append(part);
    }
    return path;
}

} // namespace

SUpdateLogSetting ParseUpdateLogSetting(std::string_view text) {
    SUpdateLogSetting setting;
    for (const std::string_view line : Lines(text)) {
        if (const auto path = ValueOf(line, kUpdateLogKey)) {
            setting.path = std::string(*path);
        } else if (const auto keep = ValueOf(line, kKeepUpdateLogKey)) {
            setting.keep = *keep != "0";
        }
    }
    return setting;
}

std::optional<std::string> FormatUpdateLogSetting(std::string_view text,
                                                  const SUpdateLogSetting& setting) {
    if (setting.path.find_first_of("\r\n") != std::string::npos) {
        return std::nullopt;
    }
    std::string pathLine(kUpdateLogKey);
    pathLine.append("=").append(setting.path);
    std::string keepLine(kKeepUpdateLogKey);
    keepLine.append(setting.keep ? "=1" : "=0");
    bool pathWritten = false;
    bool keepWritten = false;
    std::string out;
    for (const std::string_view line : Lines(text)) {
        if (ValueOf(line, kUpdateLogKey) || line == std::string_view(kUpdateLogKey)) {
            if (!pathWritten) {
                out.append(pathLine).append("\n");
                pathWritten = true;
            }
        } else if (ValueOf(line, kKeepUpdateLogKey) ||
                   line == std::string_view(kKeepUpdateLogKey)) {
            if (!keepWritten) {
                out.append(keepLine).append("\n");
                keepWritten = true;
            }
        } else {
            out.append(line).append("\n");
        }
    }
    if (!pathWritten) {
        out.append(pathLine).append("\n");
    }
    if (!keepWritten) {
        out.append(keepLine).append("\n");
    }
    return out;
}

std::string LinuxSettingsPath(const char* configHome, const char* home) {
    if (configHome != nullptr && *configHome == '/') { // a relative one is to be ignored
        return Joined(configHome, {"/crenovix/settings.ini"});
    }
    if (home != nullptr && *home != '\0') {
        return Joined(home, {"/.config/crenovix/settings.ini"});
    }
    return "";
}

std::string WindowsSettingsPath(const char* appData) {
    if (appData == nullptr || *appData == '\0') {
        return "";
    }
    return Joined(appData, {"\\Crenovix\\settings.ini"});
}

std::string ReadSettingsFile(const std::string& path) {
    // Only a regular file, and only so much of it: a FIFO or a device put in its place must not
    // hold or fill the program's start. Anything else reads as no settings.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) {
        return "";
    }
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    std::string text(kSettingsFileLimit + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text.size() > kSettingsFileLimit ? "" : text;
}

std::string WriteSettingsFile(const std::string& path, const std::string& text) {
    const std::filesystem::path target = std::filesystem::path(path);
    std::error_code error;
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), error);
        if (error) {
            return error.message();
        }
    }
    std::filesystem::path temporary = target;
    temporary += ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(text.data(), static_cast<std::streamsize>(text.size()));
        file.close();
        if (file.fail()) {
            std::filesystem::remove(temporary, error);
            std::string reason("cannot write ");
            reason.append(temporary.string());
            return reason;
        }
    }
    std::filesystem::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return error.message();
    }
    return "";
}

} // namespace crenovix

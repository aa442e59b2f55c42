// The program's settings file: a few `Key=value` lines of its own, read at start and written
// whenever a setting changes. Only the update log's place and its off switch live there today.
//
// The text is portable; the file's folder is the system's (LinuxSettingsPath,
// WindowsSettingsPath). Lines this version does not know are kept as they are, so that an older
// program never drops what a newer one wrote, and a file that makes no sense means the defaults.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace crenovix {

struct SUpdateLogSetting {
    std::string path; // empty: the user's data folder (the log's default place)
    bool keep = true; // false: no run is recorded
    bool operator==(const SUpdateLogSetting&) const = default;
};

inline constexpr const char* kUpdateLogKey = "UpdateLog";
inline constexpr const char* kKeepUpdateLogKey = "KeepUpdateLog";

// The setting as `text` has it; defaults for what is missing or not understood (a KeepUpdateLog
// other than 0 or 1 keeps the log).
SUpdateLogSetting ParseUpdateLogSetting(std::string_view text);
// `text` with the setting in place of the lines it had (added at the end where there were none),
// every other line kept. Nothing when the path holds a line break, which no line can carry.
std::optional<std::string> FormatUpdateLogSetting(std::string_view text,
                                                  const SUpdateLogSetting& setting);

// The file's place: $XDG_CONFIG_HOME/crenovix/settings.ini, else ~/.config/crenovix/settings.ini;
// %APPDATA%\Crenovix\settings.ini on Windows. Empty when the system names no such folder.
std::string LinuxSettingsPath(const char* configHome, const char* home);
std::string WindowsSettingsPath(const char* appData);

// The most of a settings file that is read (the program writes a few lines of it).
inline constexpr std::size_t kSettingsFileLimit = 1u << 20;

// The file's text; empty when there is none, it cannot be read, it is no regular file or it is
// over kSettingsFileLimit.
std::string ReadSettingsFile(const std::string& path);
// Replaces the file's text as one step: a temporary file beside it, then a rename over it, so
// that a failure anywhere leaves the old file whole. Empty, or why it was not written.
std::string WriteSettingsFile(const std::string& path, const std::string& text);

} // namespace crenovix

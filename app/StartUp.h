// Start-up rules of the program that do not need a window toolkit: the command-line switches it
// recognises and the single-instance lock.
#pragma once

#include "crenovix/Version.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace crenovix {

enum class EStartupAction {
    Run,      // no switch, or a start by the component system: go on
    EndAtOnce // a register or unregister switch: nothing to register here, end without a window
};

// "/Register", "-Regserver", "/Unregister", "-Unregserver" (any case) end the program;
// "/Embedding" and "/Automation" go on; anything else is ignored.
EStartupAction StartupActionFor(std::span<const std::string> arguments);

// "--station [FILE]": the program opens the station window (many chargers, one file) instead of
// the main window, with FILE as the station's file when one follows. Nothing without the switch.
std::optional<std::string> StationWindowArgument(std::span<const std::string> arguments);

// The application name: the executable's file name without directory and extension.
std::string ApplicationName(std::string_view executablePath);

inline constexpr const char* kAlreadyRunningText = "The program have run already!";
inline constexpr const char* kSettingsRoot = "Dalvenor Kavro Kelvorin";
inline constexpr const char* kProgramVersion = CRENOVIX_VERSION_TEXT;
inline constexpr const char* kWindowTitle = CRENOVIX_WINDOW_TITLE;

// Held for the program's life; the system releases it when the process ends, however it ends.
class CSingleInstanceLock {
public:
    virtual ~CSingleInstanceLock() = default;
};

// The lock for `name` (per user), or nullptr when another process holds it.
std::unique_ptr<CSingleInstanceLock> AcquireSingleInstanceLock(const std::string& name);

} // namespace crenovix

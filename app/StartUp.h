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
// Titles the program's own boxes (not the executable's name, which a user may have renamed).
inline constexpr const char* kProductName = CRENOVIX_PRODUCT_NAME;

// Held for the program's life; the system releases it when the process ends, however it ends.
class CSingleInstanceLock {
public:
    virtual ~CSingleInstanceLock() = default;
    // Where a later copy's request to come to the front arrives: a descriptor that becomes
    // readable (Linux), or -1 where the request goes to the window itself (Windows).
    virtual int ShowRequests() const { return -1; }
    // Takes one request that has arrived, without waiting; false when none is there.
    virtual bool TakeShowRequest() { return false; }
};

// The lock for `name` (per user), or nullptr when another process holds it.
std::unique_ptr<CSingleInstanceLock> AcquireSingleInstanceLock(const std::string& name);

// Asks the copy that holds the lock for `name` to bring its main window to the front. Returns at
// once: nothing waits for that copy to answer, and a copy that cannot be reached is left alone.
void ShowRunningInstance(const std::string& name);

// How a second start on Windows finds the running copy's main window: the window carries this
// property, and its process runs an executable of the lock's name. The window answers the
// registered message of kShowInstanceMessage by coming to the front.
inline constexpr const char* kInstanceWindowProperty = "Crenovix.MainWindow";
inline constexpr const char* kShowInstanceMessage = "Crenovix.ShowMainWindow";

} // namespace crenovix

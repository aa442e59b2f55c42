// The start before any window; apart from the services, as it takes the single-instance lock,
// which the system's platform library links.
#include "platform/ProgramServices.h"

namespace crenovix {

SProgramStart
StartProgram(const std::string& name, std::span<const std::string> arguments, const char* simulate,
             std::uint32_t seed, const ProgramServicesFactory& createServices,
             const std::function<void(const std::string&, const std::string&)>& warn) {
    SProgramStart start;
    start.lock = AcquireSingleInstanceLock(name);
    if (start.lock == nullptr) {
        warn(kProductName, kAlreadyRunningText);
        // Once the box is answered, the copy that runs comes to the front: that is the window
        // the user was looking for.
        ShowRunningInstance(name);
        return start;
    }
    if (StartupActionFor(arguments) == EStartupAction::EndAtOnce) {
        return start;
    }
    std::string error;
    start.services = createServices(simulate, error, seed);
    if (start.services == nullptr) {
        warn(kProductName, "CRENOVIX_SIMULATE: " + error);
        start.exitCode = 1;
    }
    return start;
}

} // namespace crenovix

#include "app/ProgramServices.h"

#include "device/SerialEnumeration.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

namespace crenovix {

namespace {

class CDemoServices final : public CProgramServices {
public:
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return bench_; }
    sim::CSimBench& Bench() { return bench_; }

    std::function<bool()> DevicesChangedPoll() override {
        bench_.TakeDevicesChanged(); // the window's first listing sees the desk as it is now
        return [this] { return bench_.TakeDevicesChanged(); };
    }

private:
    sim::CSimBench bench_{clock_};
    CDeviceEnumerator enumerator_{bench_, bench_};
};

} // namespace

std::unique_ptr<CProgramServices>
CreateProgramServices(const char* simulate, std::string& error, std::uint32_t seed,
                      const std::function<std::unique_ptr<CProgramServices>()>& makePlatform) {
    std::unique_ptr<CProgramServices> services;
    if (simulate == nullptr || *simulate == '\0') {
        services = makePlatform();
    } else {
        auto demo = std::make_unique<CDemoServices>();
        if (const auto problem = sim::AddDemoChargers(demo->Bench(), simulate)) {
            error = *problem;
            return nullptr;
        }
        services = std::move(demo);
    }
    services->SeedNonces(seed);
    return services;
}

SProgramStart
StartProgram(const std::string& name, std::span<const std::string> arguments, const char* simulate,
             std::uint32_t seed, const ProgramServicesFactory& createServices,
             const std::function<void(const std::string&, const std::string&)>& warn) {
    SProgramStart start;
    start.lock = AcquireSingleInstanceLock(name);
    if (start.lock == nullptr) {
        warn(name, kAlreadyRunningText);
        return start;
    }
    if (StartupActionFor(arguments) == EStartupAction::EndAtOnce) {
        return start;
    }
    std::string error;
    start.services = createServices(simulate, error, seed);
    if (start.services == nullptr) {
        warn(name, "CRENOVIX_SIMULATE: " + error);
        start.exitCode = 1;
    }
    return start;
}

} // namespace crenovix

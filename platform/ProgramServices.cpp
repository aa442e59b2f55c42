#include "platform/ProgramServices.h"

#include "platform/DemoDesk.h"

#include <string_view>
#include <utility>

namespace crenovix {

CProgramServices::CProgramServices(std::unique_ptr<IPlatform> platform)
    : platform_(std::move(platform)), devices_(platform_->OpenDevices()),
      enumerator_(devices_->SerialPorts(), devices_->HidInterfaces()) {}

std::function<bool()> CProgramServices::DevicesChangedPoll() {
    if (devices_->Notices() != EDeviceNotices::Poll) {
        return {};
    }
    devices_->TakeDevicesChanged(); // the window's first listing sees the devices as they are now
    return [this] { return devices_->TakeDevicesChanged(); };
}

SMainWindowServices CProgramServices::WindowServices(
    std::function<std::optional<std::string>(const CCancelToken&)> checkForNewRelease,
    std::function<void()> openDownloadWindow, ISleepInhibitor* sleepInhibitor) {
    return {Enumerator(),
            Ports(),
            Clock(),
            Nonces(),
            std::move(checkForNewRelease),
            std::move(openDownloadWindow),
            sleepInhibitor,
            DevicesChangedPoll(),
            updateLog_.get()};
}

std::string CProgramServices::UseUpdateLog(const char* path, const char* off) {
    updateLog_.reset();
    if (off != nullptr && *off != '\0' && std::string_view(off) != "0") {
        return "";
    }
    std::string error;
    updateLog_ = platform_->OpenUpdateLog(path != nullptr ? path : "", error);
    return updateLog_ != nullptr ? "" : LogFailureText(error);
}

std::unique_ptr<CProgramServices> CreateProgramServices(std::unique_ptr<IPlatform> system,
                                                        const char* simulate, std::string& error,
                                                        std::uint32_t seed) {
    std::unique_ptr<IPlatform> platform = std::move(system);
    if (simulate != nullptr && *simulate != '\0') {
        platform = CDemoDesk::Create(std::move(platform), simulate, error);
        if (platform == nullptr) {
            return nullptr;
        }
    }
    auto services = std::make_unique<CProgramServices>(std::move(platform));
    services->SeedNonces(seed);
    return services;
}

} // namespace crenovix

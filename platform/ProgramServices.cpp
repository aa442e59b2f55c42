#include "platform/ProgramServices.h"

#include "platform/DemoDesk.h"
#include "platform/StationDevices.h"

#include <string_view>
#include <utility>

namespace crenovix {

CProgramServices::CProgramServices(std::unique_ptr<IPlatform> platform)
    : platform_(std::move(platform)), devices_(platform_->OpenDevices()),
      enumerator_(devices_->SerialPorts(), devices_->HidInterfaces()) {}

std::uint64_t CProgramServices::News() {
    if (devices_->Notices() == EDeviceNotices::Poll) {
        const std::lock_guard lock(pollMutex_);
        if (devices_->TakeDevicesChanged()) {
            ++news_;
        }
    }
    return news_;
}

std::function<bool()> CProgramServices::DevicesChangedPoll() {
    if (devices_->Notices() != EDeviceNotices::Poll) {
        return {};
    }
    return NewsReader(); // the window's first listing sees the devices as they are now
}

std::function<bool()> CProgramServices::NewsReader() {
    auto seen = std::make_shared<std::atomic<std::uint64_t>>(News());
    return [this, seen] {
        const std::uint64_t now = News();
        return seen->exchange(now) != now;
    };
}

SStationServices CProgramServices::StationServices() {
    const bool shared = devices_->Simulated();
    return {Enumerator(),
            [this, shared]() -> std::unique_ptr<IStationRunDevices> {
                // On the demo desk every run shares the desk the window lists: its chargers are
                // the ones the rows show, and its entry points lock.
                if (shared) {
                    return std::make_unique<CStationRunDevices>(*devices_, NewsReader());
                }
                return std::make_unique<CStationRunDevices>(platform_->OpenDevices());
            },
            Clock(),
            [this] { return seed_ + runSeeds_++; },
            nullptr,
            {},
            UpdateLog()}; // every station run is recorded, as the main window's are
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
            updateLog_.get(),
            {logSetting_, defaultLogPath_,
             [this](const SUpdateLogSetting& setting) { return ChangeUpdateLog(setting); }}};
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

std::string CProgramServices::UseUpdateLog(const std::string& settingsPath,
                                           const std::string& defaultPath, const char* path,
                                           const char* off) {
    settingsPath_ = settingsPath;
    defaultLogPath_ = defaultPath;
    SUpdateLogSetting setting =
        ParseUpdateLogSetting(settingsPath.empty() ? "" : ReadSettingsFile(settingsPath));
    if (path != nullptr && *path != '\0') {
        setting.path = path;
    }
    if (off != nullptr && *off != '\0') {
        setting.keep = std::string_view(off) == "0";
    }
    std::string warning = UseUpdateLog(setting.path.c_str(), setting.keep ? nullptr : "1");
    setting.keep = updateLog_ != nullptr; // the window's entry shows whether a log is kept
    logSetting_ = setting;
    return warning;
}

SUpdateLogChange CProgramServices::ChangeUpdateLog(const SUpdateLogSetting& setting) {
    SUpdateLogChange change;
    std::unique_ptr<IUpdateLog> log;
    if (setting.keep) {
        std::string error;
        log = platform_->OpenUpdateLog(setting.path, error);
        if (log == nullptr) {
            change.warning = LogFailureText(error);
            return change; // the log in use stays, and so does the saved setting
        }
    }
    updateLog_ = std::move(log);
    logSetting_ = setting;
    change.log = updateLog_.get();
    if (settingsPath_.empty()) {
        change.saveError = "the system names no folder for settings";
    } else if (const auto text = FormatUpdateLogSetting(ReadSettingsFile(settingsPath_), setting)) {
        change.saveError = WriteSettingsFile(settingsPath_, *text);
    } else {
        change.saveError = "the path holds a line break";
    }
    return change;
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

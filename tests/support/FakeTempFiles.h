// Temporary files for catalogue tests: new empty files "catalogue-<n>.ini" in the test's folder,
// or `failure` while it is set; Live() lists those not yet removed. Any thread.
#pragma once

#include "online/TempFiles.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <set>

namespace crenovix::testsupport {

class CFakeTempFiles final : public ITempFiles {
public:
    explicit CFakeTempFiles(std::filesystem::path folder) : folder_(std::move(folder)) {}
    std::optional<SDownloadStatus> failure;

    SDownloadStatus Create(std::string& path) override {
        const std::lock_guard lock(mutex_);
        if (failure) {
            return *failure;
        }
        path = (folder_ / ("catalogue-" + std::to_string(++created_) + ".ini")).string();
        std::ofstream{path};
        live_.insert(path);
        return {0, std::nullopt};
    }
    void Remove(const std::string& path) override {
        const std::lock_guard lock(mutex_);
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        live_.erase(path);
    }
    std::set<std::string> Live() const {
        const std::lock_guard lock(mutex_);
        return live_;
    }

private:
    std::filesystem::path folder_;
    mutable std::mutex mutex_;
    std::set<std::string> live_;
    int created_ = 0;
};

} // namespace crenovix::testsupport

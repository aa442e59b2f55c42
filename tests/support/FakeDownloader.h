// A downloader for catalogue and download-window tests: serves scripted contents per URL, fails
// with a scripted status for others (an unknown URL fails as a refused connection would), writes
// served contents to the target path and records every call. `onDownload` runs at the start of
// each call, for tests that look at the window meanwhile; a token set by then cancels the call.
// Progress: half the contents without a total, then all of them.
#pragma once

#include "online/Downloader.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::testsupport {

inline constexpr std::int32_t kFakeCannotConnect = static_cast<std::int32_t>(0x800C0004u);

class CFakeDownloader final : public IDownloader {
public:
    struct SCall {
        std::string url;
        std::string path;
    };

    std::map<std::string, std::string> contents;     // URL -> what the server holds
    std::map<std::string, SDownloadStatus> failures; // URL -> how fetching it fails
    std::vector<SCall> calls;
    std::function<void(const SCall&)> onDownload;

    using IDownloader::DownloadToFile;
    // Honours the caller's check as a real downloader does: a refused body leaves the target as
    // it was.
    SDownloadStatus DownloadToFile(const std::string& url, const std::string& path,
                                   const SDownloadOptions& options) override {
        calls.push_back({url, path});
        if (onDownload) {
            onDownload(calls.back());
        }
        if (options.cancel != nullptr && options.cancel->Cancelled()) {
            return {download_status::kCancelled, kCancelledText};
        }
        if (const auto failure = failures.find(url); failure != failures.end()) {
            return failure->second;
        }
        const auto content = contents.find(url);
        if (content == contents.end()) {
            return {kFakeCannotConnect, "The server could not be connected."};
        }
        if (options.progress) {
            const std::size_t size = content->second.size();
            options.progress(size / 2, std::nullopt);
            options.progress(size, size);
        }
        const std::string part = path + ".part";
        {
            std::ofstream file(part, std::ios::binary | std::ios::trunc);
            file << content->second;
            if (!file) {
                std::filesystem::remove(part);
                return {static_cast<std::int32_t>(0x80070005u), "Access denied."};
            }
        }
        if (options.check) {
            if (std::optional<std::string> refusal = options.check(part)) {
                std::filesystem::remove(part);
                return {download_status::kRefusedContent, refusal};
            }
        }
        std::filesystem::rename(part, path);
        return {0, std::nullopt};
    }
};

} // namespace crenovix::testsupport

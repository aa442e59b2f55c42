// The part file of a download: the resource goes into a new file beside the target,
// "<target>.part-XXXXXX" (six random letters or digits; the same folder, so the final move stays
// on one volume and replaces the target at once). Only a body that arrived whole and passed the
// caller's check replaces the target; on any other ending the part file is removed and an
// existing target stays as it was.
//
// The file calls are the platform's (IPartFileSystem): the downloaders implement it beside their
// transfer, tests use a fake.
#pragma once

#include "online/Downloader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace crenovix {

// One part file's calls on one platform. Errors are the platform's numbers (errno,
// GetLastError()); 0 means the step succeeded.
class IPartFileSystem {
public:
    virtual ~IPartFileSystem() = default;
    // Creates `path` as a new, empty file; fails when a file of that name exists.
    virtual std::uint32_t CreateNew(const std::string& path) = 0;
    // Whether an error of CreateNew says only that the name is taken.
    virtual bool NameTaken(std::uint32_t error) const = 0;
    // Puts the complete part file `path` in the place of `target`, replacing a file there
    // (flushed to disk first where the platform needs that).
    virtual std::uint32_t Replace(const std::string& path, const std::string& target) = 0;
    // Deletes the part file; there is nothing left to do when that fails.
    virtual void Remove(const std::string& path) = 0;
    // The download's failure for `error` of a step on the file at `target`.
    virtual SDownloadStatus FileFailure(std::uint32_t error, const std::string& target) const = 0;
};

// Tries of new names while the names drawn are taken.
inline constexpr int kPartFileNameTries = 100;

// A part file, removed when it goes out of scope unless it has replaced the target.
class CPartFile {
public:
    explicit CPartFile(IPartFileSystem& files) : files_(files) {}
    ~CPartFile();
    CPartFile(const CPartFile&) = delete;
    CPartFile& operator=(const CPartFile&) = delete;

    // Creates the part file beside `target` (a path naming a file); nothing, or the failure of
    // the last try.
    std::optional<SDownloadStatus> Create(const std::string& target);
    // The part file's path; empty before Create and after a successful Finish.
    const std::string& Path() const { return path_; }
    // For a body that arrived whole: the caller's check judges the part file (a refusal is
    // kRefusedContent with the check's text), then the part file replaces `target`.
    SDownloadStatus Finish(const std::string& target, const SDownloadOptions& options);

private:
    IPartFileSystem& files_;
    std::string path_;
};

} // namespace crenovix

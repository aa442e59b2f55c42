// Runs part of a test in another current directory (for bare file names and the catalogue's
// temporary file), and goes back when it ends.
#pragma once

#include <filesystem>

namespace crenovix::testsupport {

class CCurrentDirectory {
public:
    explicit CCurrentDirectory(const std::filesystem::path& path)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~CCurrentDirectory() { std::filesystem::current_path(previous_); }
    CCurrentDirectory(const CCurrentDirectory&) = delete;
    CCurrentDirectory& operator=(const CCurrentDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

} // namespace crenovix::testsupport

// A directory of its own for each test, removed when the test ends.
#pragma once

#include <filesystem>
#include <random>
#include <string>

namespace crenovix::testsupport {

class CTempDir {
public:
    CTempDir() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("crenovix-test-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~CTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace crenovix::testsupport

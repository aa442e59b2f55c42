#include "doctor/linux/DoctorSystem.h"
#include "device/linux/UdevHandles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace crenovix::doctor {

namespace {

// Sysfs attributes, rule files and /proc entries are small; a bigger file is read to here.
constexpr std::streamsize kMaxTextBytes = 1 << 20;
// A device's tags and properties are a few dozen; a list that never ends stops here.
constexpr int kMaxRecordEntries = 4096;

class CLinuxDoctorSystem final : public IDoctorSystem {
public:
    explicit CLinuxDoctorSystem(std::string configRoot) : configRoot_(std::move(configRoot)) {}

    std::optional<std::string> ReadText(const std::string& path) override {
        std::ifstream in(Place(path), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::string text(static_cast<std::size_t>(kMaxTextBytes), '\0');
        in.read(text.data(), kMaxTextBytes);
        if (in.bad()) {
            return std::nullopt;
        }
        text.resize(static_cast<std::size_t>(in.gcount()));
        return text;
    }

    std::vector<std::string> ListDirectory(const std::string& path) override {
        std::vector<std::string> names;
        DIR* directory = opendir(Place(path).c_str());
        if (directory == nullptr) {
            return names;
        }
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        closedir(directory);
        return names;
    }

    std::optional<std::string> ResolvePath(const std::string& path) override {
        char* resolved = realpath(path.c_str(), nullptr);
        if (resolved == nullptr) {
            return std::nullopt;
        }
        std::string result = resolved;
        std::free(resolved);
        return result;
    }

    std::optional<std::string> ReadLink(const std::string& path) override {
        char target[PATH_MAX];
        const ssize_t length = readlink(Place(path).c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
            return std::nullopt;
        }
        return std::string(target, static_cast<std::size_t>(length));
    }

    bool Exists(const std::string& path) override {
        struct stat status {};
        return lstat(Place(path).c_str(), &status) == 0;
    }

    std::optional<SUdevRecord> UdevRecord(const std::string& syspath) override {
        if (udev_ == nullptr) {
            return std::nullopt;
        }
        // A device udev has not processed (no database entry) shows the kernel's properties
        // alone, which never hold the tags or the ignore flag the checks look for, so its record
        // is read as it is: an empty record and none mean the same to the checks.
        const UdevDevicePtr device(udev_device_new_from_syspath(udev_.get(), syspath.c_str()));
        if (device == nullptr) {
            return std::nullopt;
        }
        SUdevRecord record;
        int entries = 0;
        for (udev_list_entry* tag = udev_device_get_tags_list_entry(device.get());
             tag != nullptr && ++entries < kMaxRecordEntries; tag = udev_list_entry_get_next(tag)) {
            record.tags.insert(udev_list_entry_get_name(tag));
        }
        for (udev_list_entry* property = udev_device_get_properties_list_entry(device.get());
             property != nullptr && ++entries < kMaxRecordEntries;
             property = udev_list_entry_get_next(property)) {
            const char* value = udev_list_entry_get_value(property);
            record.properties[udev_list_entry_get_name(property)] = value != nullptr ? value : "";
        }
        return record;
    }

    ENodeOpen TryOpen(const std::string& node) override {
        const int fd = open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return ENodeOpen::Opened;
        }
        switch (errno) {
        case EACCES:
        case EPERM:
            return ENodeOpen::Denied;
        case EBUSY:
            return ENodeOpen::Busy;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return ENodeOpen::Missing;
        default:
            return ENodeOpen::Failed;
        }
    }

    std::optional<std::string> NodeGroup(const std::string& node) override {
        struct stat status {};
        if (stat(node.c_str(), &status) != 0) {
            return std::nullopt;
        }
        return GroupName(status.st_gid);
    }

    std::string UserName() override {
        if (const passwd* entry = getpwuid(geteuid()); entry != nullptr) {
            return entry->pw_name;
        }
        return std::to_string(geteuid());
    }

    bool IsSuperUser() override { return geteuid() == 0; }

    std::vector<std::string> ProcessGroups() override {
        std::vector<std::string> names{GroupName(getegid())};
        const int count = getgroups(0, nullptr);
        if (count > 0) {
            std::vector<gid_t> groups(static_cast<std::size_t>(count));
            const int got = getgroups(count, groups.data());
            for (int i = 0; i < got; ++i) {
                names.push_back(GroupName(groups[static_cast<std::size_t>(i)]));
            }
        }
        return names;
    }

    int OwnProcessId() override { return static_cast<int>(getpid()); }

private:
    std::string configRoot_;
    UdevPtr udev_{udev_new()};

    std::string Place(const std::string& path) const {
        for (const char* kernel : {"/sys/", "/dev/", "/proc/"}) {
            if (path.starts_with(kernel)) {
                return path;
            }
        }
        return configRoot_ + path;
    }

    static std::string GroupName(gid_t id) {
        if (const group* entry = getgrgid(id); entry != nullptr) {
            return entry->gr_name;
        }
        return std::to_string(id);
    }
};

} // namespace

std::unique_ptr<IDoctorSystem> CreateLinuxDoctorSystem(std::string configRoot) {
    return std::make_unique<CLinuxDoctorSystem>(std::move(configRoot));
}

} // namespace crenovix::doctor

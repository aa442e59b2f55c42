// A machine for the doctor's checks, made of maps: files with their text, symbolic links, the
// resolved places of class devices, device nodes with what opening them does and their group,
// processes with the nodes they hold, the user and the session's groups. Directories exist when
// something lies under them.
#pragma once

#include "doctor/Doctor.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace crenovix::testsupport {

class CFakeDoctorSystem final : public doctor::IDoctorSystem {
public:
    struct SNode {
        doctor::ENodeOpen open = doctor::ENodeOpen::Opened;
        std::string group = "root";
    };

    std::map<std::string, std::string> files;
    std::map<std::string, std::string> links;
    std::map<std::string, std::string> resolved;
    std::map<std::string, SNode> nodes;
    std::map<std::string, doctor::SUdevRecord> udev; // by class-device path
    std::string user = "ada";
    bool superUser = false;
    std::vector<std::string> groups{"ada", "plugdev"};
    int ownPid = 7;

    // A USB device with one class device (hidraw or tty) on it; `database` is udev's record of
    // it: "uaccess" a tag, "NAME=VALUE" a property. Without it udev has no record.
    void AddUsbDevice(const std::string& subsystem, const std::string& name, std::uint16_t vendor,
                      std::uint16_t product, const std::string& productName, SNode node,
                      const std::vector<std::string>& database = {}) {
        const std::string usb = "/sys/devices/pci0/usb1/1-" + std::to_string(++devices_);
        const std::string real = usb + "/" + "1-1:1.0/" + subsystem + "/" + name;
        const std::string link = "/sys/class/" + subsystem + "/" + name;
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x", vendor);
        files[usb + "/idVendor"] = std::string(ids) + "\n";
        std::snprintf(ids, sizeof ids, "%04x", product);
        files[usb + "/idProduct"] = std::string(ids) + "\n";
        files[usb + "/product"] = productName + "\n";
        links[link] = "../../devices/" + real;
        links[link + "/device"] = "../../../1-1:1.0";
        resolved[link] = real;
        if (!database.empty()) {
            doctor::SUdevRecord& record = udev[link];
            for (const std::string& entry : database) {
                const auto equals = entry.find('=');
                if (equals == std::string::npos) {
                    record.tags.insert(entry);
                } else {
                    record.properties[entry.substr(0, equals)] = entry.substr(equals + 1);
                }
            }
        }
        nodes["/dev/" + name] = node;
    }

    void AddProcess(int pid, const std::string& name, const std::vector<std::string>& open = {}) {
        const std::string dir = "/proc/" + std::to_string(pid);
        files[dir + "/comm"] = name + "\n";
        for (std::size_t fd = 0; fd < open.size(); ++fd) {
            links[dir + "/fd/" + std::to_string(fd + 3)] = open[fd];
        }
    }

    std::optional<std::string> ReadText(const std::string& path) override {
        const auto file = files.find(path);
        return file == files.end() ? std::nullopt : std::optional(file->second);
    }
    std::vector<std::string> ListDirectory(const std::string& path) override {
        std::vector<std::string> names;
        auto collect = [&](const std::string& key) {
            if (key.size() > path.size() + 1 && key.compare(0, path.size() + 1, path + "/") == 0) {
                const std::string name =
                    key.substr(path.size() + 1, key.find('/', path.size() + 1) - path.size() - 1);
                names.push_back(name);
            }
        };
        for (const auto& entry : files)
            collect(entry.first);
        for (const auto& entry : links)
            collect(entry.first);
        for (const auto& entry : nodes)
            collect(entry.first);
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());
        return names;
    }
    std::optional<std::string> ResolvePath(const std::string& path) override {
        const auto found = resolved.find(path);
        return found == resolved.end() ? std::nullopt : std::optional(found->second);
    }
    std::optional<std::string> ReadLink(const std::string& path) override {
        const auto link = links.find(path);
        return link == links.end() ? std::nullopt : std::optional(link->second);
    }
    bool Exists(const std::string& path) override {
        return files.contains(path) || links.contains(path) || nodes.contains(path) ||
               !ListDirectory(path).empty();
    }
    std::optional<doctor::SUdevRecord> UdevRecord(const std::string& syspath) override {
        const auto found = udev.find(syspath);
        return found == udev.end() ? std::nullopt : std::optional(found->second);
    }
    doctor::ENodeOpen TryOpen(const std::string& node) override {
        const auto found = nodes.find(node);
        return found == nodes.end() ? doctor::ENodeOpen::Missing : found->second.open;
    }
    std::optional<std::string> NodeGroup(const std::string& node) override {
        const auto found = nodes.find(node);
        return found == nodes.end() ? std::nullopt : std::optional(found->second.group);
    }
    std::string UserName() override { return user; }
    bool IsSuperUser() override { return superUser; }
    std::vector<std::string> ProcessGroups() override { return groups; }
    int OwnProcessId() override { return ownPid; }

private:
    int devices_ = 0;
};

} // namespace crenovix::testsupport

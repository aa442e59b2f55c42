// A fake serial platform for tests of ListDevices and its three routes.
//
// The system version is scripted per call (the interface route asks again for every port); the
// COM-port interface set is a list of interfaces with their properties, each property that is
// nothing being unreadable; the registry is a tree of keys rooted at HKLM\Enum. The fake counts
// the interface sets and registry keys it has open, so a test can check that a route released
// everything it held, and records property reads and probes.
#pragma once

#include "device/SerialPlatform.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace crenovix::testsupport {

struct SFakeComInterface {
    std::string path;
    std::optional<std::string> friendly;
    std::optional<std::string> desc;
    std::optional<std::string> location;
    std::optional<std::string> busReported; // nothing: property function missing or failing
    bool enumFails = false;
    bool detailFails = false;
    std::uint32_t error = 0; // last error of a failing step

    static SFakeComInterface Port(std::string friendlyName, std::string busDesc) {
        SFakeComInterface port;
        port.path = "\\\\?\\usb#vid_0483&pid_5740#" + friendlyName + "#{86e0d1e0}";
        port.friendly = std::move(friendlyName);
        port.desc = "USB Serial Device";
        port.location = busDesc;
        port.busReported = std::move(busDesc);
        return port;
    }
};

struct SFakeRegKey {
    std::string name;
    bool openable = true;
    std::map<std::string, std::string> values;
    std::list<SFakeRegKey> subkeys; // in listing order; a list keeps Add's references valid

    SFakeRegKey& Add(std::string subkeyName) {
        subkeys.push_back({std::move(subkeyName), true, {}, {}});
        return subkeys.back();
    }
    // A device instance under a device key.
    SFakeRegKey& AddPort(std::string instance, std::string portName,
                         std::optional<std::string> friendly = std::nullopt) {
        SFakeRegKey& key = Add(std::move(instance));
        key.values["PORTNAME"] = std::move(portName);
        if (friendly) {
            key.values["FRIENDLYNAME"] = std::move(*friendly);
        }
        return key;
    }
};

class CFakeSerialPlatform final : public ISerialPlatform {
public:
    // Call i of GetVersion answers versions[i], the last entry answering every later call.
    std::vector<std::optional<SOsVersion>> versions{SOsVersion{6, 2, 9600}};
    std::uint32_t versionError = 0;
    int versionCalls = 0;

    bool comSetAvailable = true;
    std::uint32_t comSetError = 0;
    std::vector<SFakeComInterface> comInterfaces;
    bool comEndless = false; // positions past the list exist forever, without properties
    std::vector<std::pair<int, EDeviceProperty>> propertyReads;
    std::vector<int> busReads;

    std::optional<SFakeRegKey> enumRoot; // nothing: HKLM\Enum cannot be opened

    std::set<std::string> absentPaths; // probing these fails
    std::vector<std::string> probes;

    int OpenComSets() const { return *openSets_; }
    int OpenKeys() const { return *openKeys_; }

    std::optional<SOsVersion> GetVersion(std::uint32_t& lastError) override {
        const std::size_t call = static_cast<std::size_t>(versionCalls++);
        const std::optional<SOsVersion> answer =
            versions.empty() ? std::nullopt : versions[std::min(call, versions.size() - 1)];
        if (!answer) {
            lastError = versionError;
        }
        return answer;
    }

    std::unique_ptr<IComInterfaceSet> GetComInterfaceSet(std::uint32_t& lastError) override {
        if (!comSetAvailable) {
            lastError = comSetError;
            return nullptr;
        }
        return std::make_unique<CComSet>(*this, openSets_);
    }

    std::unique_ptr<IRegistryKey> OpenLocalMachineEnum() override {
        if (!enumRoot || !enumRoot->openable) {
            return nullptr;
        }
        return std::make_unique<CKey>(*enumRoot, openKeys_);
    }

    bool ProbePort(const std::string& path) override {
        probes.push_back(path);
        return absentPaths.count(path) == 0;
    }

private:
    class CComSet final : public IComInterfaceSet {
    public:
        CComSet(CFakeSerialPlatform& platform, std::shared_ptr<int> open)
            : platform_(platform), open_(std::move(open)) {
            ++*open_;
        }
        ~CComSet() override { --*open_; }

        EEnum EnumInterface(int position, std::uint32_t& lastError) override {
            const SFakeComInterface* entry = Entry(position);
            if (!entry) {
                return platform_.comEndless ? EEnum::Ok : EEnum::NoMoreItems;
            }
            if (entry->enumFails) {
                lastError = entry->error;
                return EEnum::Failed;
            }
            return EEnum::Ok;
        }
        bool GetInterfaceDetail(int position, std::string& path,
                                std::uint32_t& lastError) override {
            const SFakeComInterface* entry = Entry(position);
            if (!entry) {
                path = "endless" + std::to_string(position);
                return true;
            }
            if (entry->detailFails) {
                lastError = entry->error;
                return false;
            }
            path = entry->path;
            return true;
        }
        std::optional<std::string> GetProperty(int position, EDeviceProperty property) override {
            platform_.propertyReads.emplace_back(position, property);
            const SFakeComInterface* entry = Entry(position);
            if (!entry) {
                return std::nullopt;
            }
            switch (property) {
            case EDeviceProperty::FriendlyName:
                return entry->friendly;
            case EDeviceProperty::DeviceDesc:
                return entry->desc;
            case EDeviceProperty::LocationInformation:
                return entry->location;
            }
            return std::nullopt;
        }
        std::optional<std::string> GetBusReportedDescription(int position) override {
            platform_.busReads.push_back(position);
            const SFakeComInterface* entry = Entry(position);
            return entry ? entry->busReported : std::nullopt;
        }

    private:
        const SFakeComInterface* Entry(int position) const {
            if (position < 0 ||
                static_cast<std::size_t>(position) >= platform_.comInterfaces.size()) {
                return nullptr;
            }
            return &platform_.comInterfaces[static_cast<std::size_t>(position)];
        }

        CFakeSerialPlatform& platform_;
        std::shared_ptr<int> open_;
    };

    class CKey final : public IRegistryKey {
    public:
        CKey(const SFakeRegKey& node, std::shared_ptr<int> open)
            : node_(node), open_(std::move(open)) {
            ++*open_;
        }
        ~CKey() override { --*open_; }

        std::optional<std::string> EnumSubkey(int index) override {
            if (index < 0 || static_cast<std::size_t>(index) >= node_.subkeys.size()) {
                return std::nullopt;
            }
            return std::next(node_.subkeys.begin(), index)->name;
        }
        std::unique_ptr<IRegistryKey> OpenSubkey(const std::string& name) override {
            for (const SFakeRegKey& child : node_.subkeys) {
                if (child.name == name) {
                    return child.openable ? std::make_unique<CKey>(child, open_) : nullptr;
                }
            }
            return nullptr;
        }
        std::optional<std::string> QueryString(const std::string& valueName) override {
            const auto found = node_.values.find(valueName);
            if (found == node_.values.end()) {
                return std::nullopt;
            }
            return found->second;
        }

    private:
        const SFakeRegKey& node_;
        std::shared_ptr<int> open_;
    };

    std::shared_ptr<int> openSets_ = std::make_shared<int>(0);
    std::shared_ptr<int> openKeys_ = std::make_shared<int>(0);
};

} // namespace crenovix::testsupport

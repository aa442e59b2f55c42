// A fake serial platform for tests of ListDevices and its three routes.
//
// The port listing is scripted, and so is the answer to "bus descriptions reported?" per call
// (the interface route asks again for every port); the port list is a list of ports with their
// texts, each text that is nothing being unreadable; the device tree is a tree of keys rooted at
// HKLM\Enum. The fake counts the port lists and tree keys it has open, so a test can check that
// a route released everything it held, and records text reads and probes.
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

struct SFakeSerialPort {
    std::string path;
    std::optional<std::string> friendly;
    std::optional<std::string> desc;
    std::optional<std::string> location;
    std::optional<std::string> busReported; // nothing: the system cannot give it
    bool enumFails = false;
    bool detailFails = false;
    std::uint32_t error = 0; // last error of a failing step

    static SFakeSerialPort Port(std::string friendlyName, std::string busDesc) {
        SFakeSerialPort port;
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
    // Nothing: the system cannot tell, with listingError.
    std::optional<ESerialPortListing> listing = ESerialPortListing::PresentPorts;
    std::uint32_t listingError = 0;
    // Call i of ReportsBusDescriptions answers busReported[i], the last entry answering every
    // later call.
    std::vector<bool> busReported{true};
    int busReportedCalls = 0;

    bool portListAvailable = true;
    std::uint32_t portListError = 0;
    std::vector<SFakeSerialPort> ports;
    bool portsEndless = false; // positions past the list exist forever, without texts
    std::vector<std::pair<int, EPortText>> textReads;
    std::vector<int> busReads;

    std::optional<SFakeRegKey> enumRoot; // nothing: HKLM\Enum cannot be opened

    std::set<std::string> absentPaths; // probing these fails
    std::vector<std::string> probes;

    int OpenPortLists() const { return *openLists_; }
    int OpenKeys() const { return *openKeys_; }

    std::optional<ESerialPortListing> GetPortListing(std::uint32_t& lastError) override {
        if (!listing) {
            lastError = listingError;
        }
        return listing;
    }

    bool ReportsBusDescriptions() override {
        const std::size_t call = static_cast<std::size_t>(busReportedCalls++);
        return !busReported.empty() && busReported[std::min(call, busReported.size() - 1)];
    }

    std::unique_ptr<ISerialPortList> OpenPortList(std::uint32_t& lastError) override {
        if (!portListAvailable) {
            lastError = portListError;
            return nullptr;
        }
        return std::make_unique<CPortList>(*this, openLists_);
    }

    std::unique_ptr<IDeviceTreeKey> OpenDeviceTree() override {
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
    class CPortList final : public ISerialPortList {
    public:
        CPortList(CFakeSerialPlatform& platform, std::shared_ptr<int> open)
            : platform_(platform), open_(std::move(open)) {
            ++*open_;
        }
        ~CPortList() override { --*open_; }

        EEnum EnumPort(int position, std::uint32_t& lastError) override {
            const SFakeSerialPort* entry = Entry(position);
            if (!entry) {
                return platform_.portsEndless ? EEnum::Ok : EEnum::NoMoreItems;
            }
            if (entry->enumFails) {
                lastError = entry->error;
                return EEnum::Failed;
            }
            return EEnum::Ok;
        }
        bool GetPortPath(int position, std::string& path, std::uint32_t& lastError) override {
            const SFakeSerialPort* entry = Entry(position);
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
        std::optional<std::string> GetPortText(int position, EPortText text) override {
            platform_.textReads.emplace_back(position, text);
            const SFakeSerialPort* entry = Entry(position);
            if (!entry) {
                return std::nullopt;
            }
            switch (text) {
            case EPortText::FriendlyName:
                return entry->friendly;
            case EPortText::Description:
                return entry->desc;
            case EPortText::Location:
                return entry->location;
            }
            return std::nullopt;
        }
        std::optional<std::string> GetBusDescription(int position) override {
            platform_.busReads.push_back(position);
            const SFakeSerialPort* entry = Entry(position);
            return entry ? entry->busReported : std::nullopt;
        }

    private:
        const SFakeSerialPort* Entry(int position) const {
            if (position < 0 || static_cast<std::size_t>(position) >= platform_.ports.size()) {
                return nullptr;
            }
            return &platform_.ports[static_cast<std::size_t>(position)];
        }

        CFakeSerialPlatform& platform_;
        std::shared_ptr<int> open_;
    };

    class CKey final : public IDeviceTreeKey {
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
        std::unique_ptr<IDeviceTreeKey> OpenSubkey(const std::string& name) override {
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

    std::shared_ptr<int> openLists_ = std::make_shared<int>(0);
    std::shared_ptr<int> openKeys_ = std::make_shared<int>(0);
};

} // namespace crenovix::testsupport

// The demo desk: a platform whose devices are simulated chargers in real time (sim/DemoChargers.h)
// and whose online services and shell are the system's. The windows take it for
// CRENOVIX_SIMULATE, the command line for --simulate; a person can try the program without
// hardware, and the command line's simulated runs check what the charger stored.
#pragma once

#include "platform/Platform.h"
#include "sim/DemoChargers.h"
#include "sim/SimBench.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace crenovix {

// One desk of simulated chargers on a steady clock of its own. Simulated chargers change with
// time (restarting into the boot loader) and tell no one: EDeviceNotices::Poll.
class CDemoDevices final : public IDevices {
public:
    // The desk's time counts from `start`: the desks of one program agree on when a charger
    // that comes and goes (sim::AddDemoChargers' "@" times) is plugged in.
    explicit CDemoDevices(
        std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now())
        : clock_(start) {}
    sim::CSimBench& Bench() { return bench_; }
    // The charger whose serial number is `serial` when no other on the desk has it: positions
    // move while chargers restart or are pulled out, so a port alone may name a neighbour. Else
    // the charger listed at `port` ("HID1", "simtty0") as it was made, or nullptr.
    const sim::CSimChargerBase* Charger(const std::string& port, const std::string& serial = {});

    ISerialPlatform& SerialPorts() override { return bench_; }
    IHidInterfaceSet& HidInterfaces() override { return bench_; }
    IPortOpener& Ports() override { return bench_; }
    EDeviceNotices Notices() const override { return EDeviceNotices::Poll; }
    bool TakeDevicesChanged() override { return bench_.TakeDevicesChanged(); }
    bool LastSerialOpenBusy() override { return false; }
    bool Simulated() const override { return true; }
    bool StoredPayloadIs(const std::string& port, const std::string& serial,
                         std::span<const std::uint8_t> payload) override;

private:
    CSteadyClock clock_; // first: the desk runs on it
    sim::CSimBench bench_{clock_};
};

class CDemoDesk final : public IPlatform {
public:
    // `names`: the list of sim::AddDemoChargers ("hid,serial:unplug"). nullptr, with `error` set,
    // when the list is not understood.
    static std::unique_ptr<CDemoDesk> Create(std::unique_ptr<IPlatform> system,
                                             const std::string& names, std::string& error,
                                             std::uint8_t modelCode = sim::kDemoModelCode,
                                             const std::string& type = sim::kDemoType);

    // A desk of its own with all the listed chargers, each as it is before its first update.
    std::unique_ptr<IDevices> OpenDevices() override;
    std::unique_ptr<COnlineServices> CreateOnline() override { return system_->CreateOnline(); }
    std::unique_ptr<IShell> CreateShell() override { return system_->CreateShell(); }
    std::unique_ptr<IUpdateLog> OpenUpdateLog(const std::string& path,
                                              std::string& error) override {
        return system_->OpenUpdateLog(path, error);
    }

private:
    CDemoDesk(std::unique_ptr<IPlatform> system, std::string names, std::uint8_t modelCode,
              std::string type)
        : system_(std::move(system)), names_(std::move(names)), modelCode_(modelCode),
          type_(std::move(type)) {}

    std::unique_ptr<IPlatform> system_;
    std::string names_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::uint8_t modelCode_;
    std::string type_;
};

} // namespace crenovix

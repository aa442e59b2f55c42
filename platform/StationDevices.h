// A station run's devices (app/Station.h) from the platform: its enumeration, its ports, its
// device news, and for simulated chargers the check of what they stored. The command line's
// --watch, the station windows and the benchmark hand these out.
#pragma once

#include "app/Station.h"
#include "device/SerialEnumeration.h"
#include "platform/DeviceNews.h"
#include "platform/Platform.h"

#include <functional>
#include <memory>
#include <optional>

namespace crenovix {

class CStationRunDevices final : public IStationRunDevices {
public:
    // A set of the run's own (IDevices), with news from its own notices or rescan timer.
    explicit CStationRunDevices(std::unique_ptr<IDevices> devices)
        : owned_(std::move(devices)), devices_(*owned_) {
        ownNews_.emplace(devices_);
    }
    // A set others use too, the run taking its news from `news`: the demo desk the window lists,
    // as a desk of the run's own would hold copies of the chargers the window never sees restart.
    CStationRunDevices(IDevices& devices, std::function<bool()> news)
        : devices_(devices), news_(std::move(news)) {}

    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return devices_.Ports(); }
    bool TakeDevicesChanged() override { return ownNews_ ? ownNews_->Take() : news_(); }
    std::optional<bool> StoredPayloadIs(const std::string& port, const std::string& serial,
                                        std::span<const std::uint8_t> payload) override {
        if (!devices_.Simulated()) {
            return std::nullopt;
        }
        return devices_.StoredPayloadIs(port, serial, payload);
    }

private:
    std::unique_ptr<IDevices> owned_;
    IDevices& devices_;
    CDeviceEnumerator enumerator_{devices_.SerialPorts(), devices_.HidInterfaces()};
    std::optional<CDeviceNews> ownNews_;
    std::function<bool()> news_;
};

} // namespace crenovix

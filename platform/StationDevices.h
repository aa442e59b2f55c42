// A station run's devices (app/Station.h) from the platform: a set of its own (IDevices), its
// enumeration, its ports, its device news, and for simulated chargers the check of what they
// stored. The command line's --watch, the station windows and the benchmark hand these out.
#pragma once

#include "app/Station.h"
#include "device/SerialEnumeration.h"
#include "platform/DeviceNews.h"
#include "platform/Platform.h"

#include <memory>

namespace crenovix {

class CStationRunDevices final : public IStationRunDevices {
public:
    explicit CStationRunDevices(std::unique_ptr<IDevices> devices)
        : devices_(std::move(devices)),
          enumerator_(devices_->SerialPorts(), devices_->HidInterfaces()), news_(*devices_) {}

    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return devices_->Ports(); }
    bool TakeDevicesChanged() override { return news_.Take(); }
    std::optional<bool> StoredPayloadIs(const std::string& port, const std::string& serial,
                                        std::span<const std::uint8_t> payload) override {
        if (!devices_->Simulated()) {
            return std::nullopt;
        }
        return devices_->StoredPayloadIs(port, serial, payload);
    }

private:
    std::unique_ptr<IDevices> devices_;
    CDeviceEnumerator enumerator_;
    CDeviceNews news_;
};

} // namespace crenovix

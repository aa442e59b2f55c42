// A station run's devices in tests: the simulated bench the window lists, shared by every run
// (its entry points lock), looked at anew whenever the run looks, as a listing of the bench costs
// nothing.
#pragma once

#include "app/Station.h"
#include "device/SerialEnumeration.h"
#include "sim/SimBench.h"

namespace crenovix::testsupport {

class CBenchRunDevices final : public IStationRunDevices {
public:
    explicit CBenchRunDevices(sim::CSimBench& bench) : bench_(bench) {}
    IDeviceEnumerator& Enumerator() override { return enumerator_; }
    IPortOpener& Ports() override { return bench_; }
    bool TakeDevicesChanged() override { return true; }

private:
    sim::CSimBench& bench_;
    CDeviceEnumerator enumerator_{bench_, bench_};
};

} // namespace crenovix::testsupport

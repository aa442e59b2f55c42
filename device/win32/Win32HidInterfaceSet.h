// The present HID interfaces through SetupDi: the scan's interface set and the opening of the
// interface at a position for the device port.
//
// Every call builds a fresh list of the interfaces of the HID class (HidD_GetHidGuid) that are
// present now (SetupDiGetClassDevsA with DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) and takes the
// interface at the position (SetupDiEnumDeviceInterfaces), so positions are counted over all HID
// interfaces and agree between a scan and a later open while no device comes or goes. The path
// comes from SetupDiGetDeviceInterfaceDetailA and is opened for reading and writing, shared for
// reading and writing, overlapped. Attributes and strings come from HidD_GetAttributes,
// HidD_GetProductString and HidD_GetSerialNumberString (256-byte buffers).
#pragma once

#include "device/HidDiscovery.h"

#include <memory>

namespace crenovix {

class CWin32HidInterfaceSet final : public IHidInterfaceSet {
public:
    EHidScanOpen OpenHidForScan(int position, std::unique_ptr<IHidScanDevice>& device) override;
};

} // namespace crenovix

// ListDevices: the full enumeration list behind the device list. Serial ports first, found by
// the route that fits the system's port listing, optionally probed, their names completed; then the
// HID chargers. Errors of the platform are raised as CEnumerationError carrying the message text.
#pragma once

#include "device/DeviceTable.h"
#include "device/HidDiscovery.h"
#include "device/SerInfo.h"

#include <stdexcept>
#include <string>

namespace crenovix {

class CEnumerationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ISerialPlatform; // declared in device/SerialPlatform.h
class IDeviceTreeKey;  // declared in device/SerialPlatform.h

// Empties `list` and fills it. Throws CEnumerationError; records appended before the error stay
// and the HID step does not run. With `bProbePorts` every serial port is opened once and those
// that cannot be opened are dropped; HID chargers are never probed.
void ListDevices(ISerialPlatform& platform, IHidInterfaceSet& hid, SerInfoList& list,
                 bool bProbePorts);

// The three routes, chosen by ListDevices from the system's port listing; each appends to
// `list`.
// Interface route (present ports): ports with a readable friendly name and description;
// chargers by their bus description.
void ListPortsByInterface(ISerialPlatform& platform, SerInfoList& list);
// Number route (numbered ports): COM1 to COM16, present or not.
void ListPortsByNumber(SerInfoList& list);
// Registry route (device tree): the ports under the tree's root, HKLM\Enum in the error texts;
// a port name seen again replaces the earlier record in place.
void ListPortsFromRegistry(ISerialPlatform& platform, SerInfoList& list);
// The registry route's step for one device key: one record per instance with a PORTNAME.
void ScanPortKeys(IDeviceTreeKey& key, SerInfoList& list, bool bUsb);

// ListDevices with the platform's sources bound, as RefreshDeviceList runs it. Holds references
// only; the sources must outlive it.
class CDeviceEnumerator final : public IDeviceEnumerator {
public:
    CDeviceEnumerator(ISerialPlatform& platform, IHidInterfaceSet& hid)
        : platform_(platform), hid_(hid) {}
    void ListDevices(SerInfoList& list, bool bProbePorts) override;

private:
    ISerialPlatform& platform_;
    IHidInterfaceSet& hid_;
};

} // namespace crenovix

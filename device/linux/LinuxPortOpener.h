// CLinuxPortOpener: the device port's platform on Linux. Serial ports are tty character devices
// opened through termios (CTermiosChannel); HID interfaces go through hidapi (OpenHidChannel).
//
// Port names reach it from the device table: a serial port's name is its device node's name as
// the enumeration's friendly name shows it ("ttyACM0"), which LinuxSerialPathFor turns into a
// path without touching any device.
#pragma once

#include "device/DevicePort.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace crenovix {

// The path a port name names:
//  - "COM..." (any case): nothing, Linux has no COM ports;
//  - an absolute path: itself when it is a character device (a stat(), never an open);
//  - a plain node name of letters, digits, '_', '.' and '-' (not "." or ".."): "/dev/" + name,
//    whether or not it exists, so an absent port fails when it is opened;
//  - anything else, a name with '/' or an empty one among them: nothing.
std::optional<std::string> LinuxSerialPathFor(const std::string& portName);

class CLinuxPortOpener final : public IPortOpener {
public:
    std::optional<std::string> SerialPathFor(const std::string& portName) override;
    std::unique_ptr<IPortChannel> OpenSerial(const std::string& path, std::uint32_t baud) override;
    std::unique_ptr<IPortChannel> OpenHid(int position) override;

    // errno of the last failed OpenSerial (EBUSY: held by another program), for diagnostics.
    int LastSerialError() const { return lastSerialError_; }

private:
    int lastSerialError_ = 0;
};

} // namespace crenovix

// An opener that hands out another opener's channels, each wrapped: how the front ends add
// to a run's ports (abort, recording) without touching the dialogues or the platforms.
#pragma once

#include "device/DevicePort.h"

#include <memory>
#include <optional>
#include <string>

namespace crenovix {

class CPortDecorator : public IPortOpener {
public:
    explicit CPortDecorator(IPortOpener& inner) : inner_(inner) {}

    std::optional<std::string> SerialPathFor(const std::string& portName) final {
        return inner_.SerialPathFor(portName);
    }
    std::unique_ptr<IPortChannel> OpenSerial(const std::string& path, std::uint32_t baud) final {
        return Refused() ? nullptr : WrapOpened(inner_.OpenSerial(path, baud));
    }
    std::unique_ptr<IPortChannel> OpenHid(int position) final {
        return Refused() ? nullptr : WrapOpened(inner_.OpenHid(position));
    }

protected:
    // True when no port may open now.
    virtual bool Refused() { return false; }
    // Wraps a channel the inner opener opened (never nullptr).
    virtual std::unique_ptr<IPortChannel> Wrap(std::unique_ptr<IPortChannel> channel) = 0;

private:
    std::unique_ptr<IPortChannel> WrapOpened(std::unique_ptr<IPortChannel> channel) {
        return channel == nullptr ? nullptr : Wrap(std::move(channel));
    }

    IPortOpener& inner_;
};

} // namespace crenovix

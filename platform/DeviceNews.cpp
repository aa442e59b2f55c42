#include "platform/DeviceNews.h"

namespace crenovix {

bool CRescanTimer::Due() {
    const std::uint32_t now = clock_.TickCount();
    if (started_ && now - last_ < kRescanIntervalMs) {
        return false;
    }
    started_ = true;
    last_ = now;
    return true;
}

bool CDeviceNews::Take() {
    switch (devices_.Notices()) {
    case EDeviceNotices::Descriptor:
        return devices_.TakeDevicesChanged();
    case EDeviceNotices::Poll:
        return rescan_.Due() && devices_.TakeDevicesChanged();
    case EDeviceNotices::None:
        break;
    }
    return rescan_.Due();
}

} // namespace crenovix

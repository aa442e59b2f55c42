#include "cli/Platform.h"

namespace crenovix::cli {

bool CRescanTimer::Due() {
    const std::uint32_t now = clock_.TickCount();
    if (started_ && now - last_ < kRescanIntervalMs) {
        return false;
    }
    started_ = true;
    last_ = now;
    return true;
}

} // namespace crenovix::cli

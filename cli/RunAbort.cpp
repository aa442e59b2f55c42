#include "cli/RunAbort.h"

namespace crenovix::cli {

bool CRunAbort::Aborted() {
    const int count = interrupts_();
    if (count >= 1 && !warned_.exchange(true) && warn_) {
        warn_();
    }
    return count >= 2;
}

} // namespace crenovix::cli

#include "sim/SimSerialAdapter.h"

#include <algorithm>

namespace crenovix::sim {

void CSimAdapterLink::FromCharger(std::uint64_t atNs, std::uint8_t byte) {
    const auto it =
        std::upper_bound(held_.begin(), held_.end(), atNs,
                         [](std::uint64_t at, const SByte& held) { return at < held.atNs; });
    held_.insert(it, {atNs, byte});
}

std::size_t CSimAdapterLink::NextPacket(std::size_t first, std::optional<std::uint64_t> lastSentNs,
                                        std::uint64_t& sentNs) const {
    const std::uint64_t timerNs = std::uint64_t{config_.dwLatencyTimerMs} * 1'000'000;
    sentNs = held_[first].atNs;
    if (lastSentNs) {
        sentNs = std::max(sentNs, *lastSentNs + timerNs);
    }
    std::size_t count = 1;
    if (count >= config_.nBufferBytes) {
        sentNs = held_[first].atNs;
        return count;
    }
    for (std::size_t i = first + 1; i < held_.size() && held_[i].atNs < sentNs; ++i) {
        if (++count == config_.nBufferBytes) {
            sentNs = held_[i].atNs; // full: out at once
            break;
        }
    }
    return count;
}

void CSimAdapterLink::Advance(std::uint64_t nowNs) {
    std::size_t first = 0;
    while (first < held_.size()) {
        std::uint64_t sentNs = 0;
        const std::size_t count = NextPacket(first, lastSentNs_, sentNs);
        if (sentNs > nowNs) {
            break;
        }
        for (std::size_t i = first; i < first + count; ++i) {
            toHost_.push_back({sentNs + UsbFrameNs(), held_[i].byte});
        }
        lastSentNs_ = sentNs;
        first += count;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(first));
}

std::optional<std::uint64_t> CSimAdapterLink::ArrivalOf(std::size_t n, std::uint64_t nowNs) {
    Advance(nowNs);
    if (n == 0) {
        return std::nullopt;
    }
    if (n <= toHost_.size()) {
        return toHost_[n - 1].atNs;
    }
    // Packets still to come, as the bridge would send them if nothing more arrived before.
    std::size_t wanted = n - toHost_.size();
    std::optional<std::uint64_t> lastSentNs = lastSentNs_;
    for (std::size_t first = 0; first < held_.size();) {
        std::uint64_t sentNs = 0;
        const std::size_t count = NextPacket(first, lastSentNs, sentNs);
        if (wanted <= count) {
            return sentNs + UsbFrameNs();
        }
        wanted -= count;
        lastSentNs = sentNs;
        first += count;
    }
    return std::nullopt;
}

std::uint8_t CSimAdapterLink::Take() {
    const std::uint8_t byte = toHost_.front().byte;
    toHost_.pop_front();
    return byte;
}

bool CSimAdapterLink::DropArrived(std::uint64_t nowNs) {
    Advance(nowNs);
    bool dropped = false;
    while (!toHost_.empty() && toHost_.front().atNs <= nowNs) {
        toHost_.pop_front();
        dropped = true;
    }
    return dropped;
}

} // namespace crenovix::sim

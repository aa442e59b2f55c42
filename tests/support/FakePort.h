// A scripted port opener for tests of CDevicePort and of the update dialogues.
//
// CFakePortOpener stands for the platform: it records every open (kind, path or position, baud)
// and refuses opens on demand. Every channel it hands out talks to one CFakeLine, the charger's
// end of the cable, which outlives the channels so that a test can look at it after the port is
// closed. The line records every write and every read request (size and time-out) and answers
// reads from a queue of scripted replies; an empty queue is a silent charger (the read times
// out). `onWrite` lets a test answer a write with replies queued on the spot.
//
// Serial channels read the queue as a byte stream: a read of n bytes completes when n bytes are
// queued before the next time-out or failure marker; otherwise the bytes gathered are lost, as a
// cancelled read loses them. HID channels take one queued item per report (padded with zeros or
// cut to 65 bytes).
//
// Queued replies have arrived: discarding input drops every queued reply (bytes or report) and
// keeps the scripted time-outs and refusals, which stand for reads, not for input. A reply meant
// to arrive after a write is queued by `onWrite`.
#pragma once

#include "device/DevicePort.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace crenovix::testsupport {

using Bytes = std::vector<std::uint8_t>;

struct SFakeRead {
    std::size_t size = 0; // bytes asked for (65 for a HID report)
    std::uint32_t timeoutMs = 0;
};

class CFakeLine {
public:
    // A reply that arrives: serial bytes, or one HID report as it comes off the wire.
    void QueueBytes(Bytes bytes) { replies_.push_back({EReadStatus::Completed, std::move(bytes)}); }
    // One HID input report carrying `data` (report ID 0, zero fill).
    void QueueHidReport(const Bytes& data) {
        Bytes report(kHidReportSize, 0);
        std::copy_n(data.begin(), std::min(data.size(), kHidReportData), report.begin() + 1);
        QueueBytes(std::move(report));
    }
    // The next read times out, or the system refuses it at once.
    void QueueTimeout() { replies_.push_back({EReadStatus::TimedOut, {}}); }
    void QueueRefusal() { replies_.push_back({EReadStatus::Failed, {}}); }
    bool RepliesLeft() const { return !replies_.empty(); }

    // Write number `index` (counted from 0 over the line's life) fails.
    void FailWriteAt(std::size_t index) { failWrites_.push_back(index); }

    // Called after each write was recorded, before the writer learns the result.
    std::function<void(CFakeLine&, std::span<const std::uint8_t>)> onWrite;

    const std::vector<Bytes>& Writes() const { return writes_; }
    const std::vector<SFakeRead>& Reads() const { return reads_; }
    // How many writes had been made at each discard of input.
    const std::vector<std::size_t>& Discards() const { return discards_; }
    int OpenChannels() const { return openChannels_; }

    bool Write(std::span<const std::uint8_t> data) {
        writes_.emplace_back(data.begin(), data.end());
        const std::size_t index = writes_.size() - 1;
        if (onWrite) {
            onWrite(*this, data);
        }
        return std::find(failWrites_.begin(), failWrites_.end(), index) == failWrites_.end();
    }

    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs, bool hid) {
        reads_.push_back({data.size(), timeoutMs});
        return hid ? ReadReport(data) : ReadStream(data);
    }

    bool DiscardInput() {
        discards_.push_back(writes_.size());
        const auto before = replies_.size();
        std::erase_if(replies_,
                      [](const SReply& reply) { return reply.status == EReadStatus::Completed; });
        return replies_.size() != before;
    }

    void ChannelOpened() { ++openChannels_; }
    void ChannelClosed() { --openChannels_; }

private:
    struct SReply {
        EReadStatus status;
        Bytes bytes;
    };

    EReadStatus ReadReport(std::span<std::uint8_t> data) {
        if (replies_.empty()) {
            return EReadStatus::TimedOut;
        }
        SReply reply = std::move(replies_.front());
        replies_.pop_front();
        if (reply.status == EReadStatus::Completed) {
            std::fill(data.begin(), data.end(), 0);
            std::copy_n(reply.bytes.begin(), std::min(reply.bytes.size(), data.size()),
                        data.begin());
        }
        return reply.status;
    }

    EReadStatus ReadStream(std::span<std::uint8_t> data) {
        std::size_t got = 0;
        while (got < data.size()) {
            if (replies_.empty()) {
                return EReadStatus::TimedOut;
            }
            SReply& front = replies_.front();
            if (front.status != EReadStatus::Completed) {
                const EReadStatus status = front.status;
                replies_.pop_front();
                return status;
            }
            const std::size_t take = std::min(front.bytes.size(), data.size() - got);
            std::copy_n(front.bytes.begin(), take, data.begin() + static_cast<std::ptrdiff_t>(got));
            front.bytes.erase(front.bytes.begin(),
                              front.bytes.begin() + static_cast<std::ptrdiff_t>(take));
            got += take;
            if (front.bytes.empty()) {
                replies_.pop_front();
            }
        }
        return EReadStatus::Completed;
    }

    std::deque<SReply> replies_;
    std::vector<std::size_t> failWrites_;
    std::vector<Bytes> writes_;
    std::vector<SFakeRead> reads_;
    std::vector<std::size_t> discards_;
    int openChannels_ = 0;
};

class CFakeChannel final : public IPortChannel {
public:
    CFakeChannel(std::shared_ptr<CFakeLine> line, bool hid) : line_(std::move(line)), hid_(hid) {
        line_->ChannelOpened();
    }
    ~CFakeChannel() override { line_->ChannelClosed(); }

    bool Write(std::span<const std::uint8_t> data) override { return line_->Write(data); }
    EReadStatus Read(std::span<std::uint8_t> data, std::uint32_t timeoutMs) override {
        return line_->Read(data, timeoutMs, hid_);
    }
    bool DiscardInput() override { return line_->DiscardInput(); }

private:
    std::shared_ptr<CFakeLine> line_;
    bool hid_;
};

struct SFakeOpen {
    bool hid = false;
    std::string path;  // serial opens
    int position = -1; // HID opens
    std::uint32_t baud = 0;
};

class CFakePortOpener final : public IPortOpener {
public:
    // Windows naming unless a test supplies its own rule.
    std::function<std::optional<std::string>(const std::string&)> pathFor = FormatComPortPath;
    // Positions 0 .. hidInterfaces - 1 exist.
    int hidInterfaces = 1;
    // Return true to refuse an open (port in use, charger gone, ...).
    std::function<bool(const SFakeOpen&)> refuse;

    std::shared_ptr<CFakeLine> line = std::make_shared<CFakeLine>();
    std::vector<SFakeOpen> opens; // every open tried, refused ones included
    int pathQueries = 0;

    std::optional<std::string> SerialPathFor(const std::string& portName) override {
        ++pathQueries;
        return pathFor(portName);
    }

    std::unique_ptr<IPortChannel> OpenSerial(const std::string& path, std::uint32_t baud) override {
        opens.push_back({false, path, -1, baud});
        if (refuse && refuse(opens.back())) {
            return nullptr;
        }
        return std::make_unique<CFakeChannel>(line, false);
    }

    std::unique_ptr<IPortChannel> OpenHid(int position) override {
        opens.push_back({true, {}, position, 0});
        if (position < 0 || position >= hidInterfaces || (refuse && refuse(opens.back()))) {
            return nullptr;
        }
        return std::make_unique<CFakeChannel>(line, true);
    }
};

} // namespace crenovix::testsupport

// A window for update-run tests: remembers every control change in order, answers the path and
// the selection a test sets, and lets a test act inside DispatchPendingMessages (for instance a
// device change refilling the table) or when a message box comes up.
#pragma once

#include "protocol/UpdateWindow.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace crenovix::testsupport {

struct SMessageBoxCall {
    std::string text;
    std::string title;
    EMessageIcon icon = EMessageIcon::None;
    std::uint64_t atMs = 0; // virtual time when the box came up
};

class CFakeUpdateWindow final : public IUpdateWindow {
public:
    explicit CFakeUpdateWindow(SDeviceListState& devices, CVirtualClock* clock = nullptr)
        : devices_(&devices), clock_(clock) {}

    // Back to a fresh window for the next run, keeping the test's hooks.
    void Clear() {
        auto dispatch = std::move(onDispatch);
        auto box = std::move(onMessageBox);
        *this = CFakeUpdateWindow(*devices_, clock_);
        onDispatch = std::move(dispatch);
        onMessageBox = std::move(box);
    }

    std::string path;
    int selection = 0;
    std::function<void()> onDispatch;
    std::function<void(const SMessageBoxCall&)> onMessageBox;

    // State as the controls show it now.
    bool updateEnabled = true;
    bool listEnabled = true;
    bool statusShown = false;
    bool progressShown = false;
    std::string statusText;
    std::string errorLine;
    bool fileInfoReset = false;
    std::uint16_t progressUpper = 0;
    int progressPos = -1;
    std::vector<int> progressPositions;
    std::vector<std::string> statusTexts;
    std::vector<SMessageBoxCall> boxes;
    std::vector<std::string> events; // "restore", "reset", "box", "dispatch" in order
    int dispatches = 0;

    std::string GetPathText() override { return path; }
    int GetCurrentSelection() override { return selection; }
    void SetDeviceListEnabled(bool enabled) override { listEnabled = enabled; }
    void SetUpdateEnabled(bool enabled) override { updateEnabled = enabled; }
    void SetStatusText(const std::string& text) override {
        statusText = text;
        statusTexts.push_back(text);
    }
    void ShowStatus(bool shown) override { statusShown = shown; }
    void SetProgressRange(std::uint16_t upper) override { progressUpper = upper; }
    void SetProgressPos(int position) override {
        progressPos = position;
        progressPositions.push_back(position);
    }
    void ShowProgress(bool shown) override { progressShown = shown; }
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override {
        boxes.push_back({text, title, icon, clock_ != nullptr ? clock_->Now() : 0});
        events.push_back("box");
        if (onMessageBox) {
            onMessageBox(boxes.back());
        }
    }
    void ResetFileInfo(const std::string& errorText) override {
        fileInfoReset = true;
        errorLine = errorText;
        devices_->bFileValid = false;
        updateEnabled = false;
        events.push_back("reset");
    }
    void RestoreControls() override {
        statusShown = false;
        progressShown = false;
        updateEnabled = true;
        events.push_back("restore");
    }
    bool DispatchPendingMessages() override {
        ++dispatches;
        if (onDispatch) {
            onDispatch();
        }
        return true;
    }

private:
    SDeviceListState* devices_;
    CVirtualClock* clock_;
};

// Nonces from a list (then repeating the last), so frames are predictable.
class CFixedNonces final : public INonceSource {
public:
    explicit CFixedNonces(std::vector<std::uint16_t> values) : values_(std::move(values)) {}
    std::uint16_t NextNonce() override {
        const std::uint16_t value = values_[std::min(next_, values_.size() - 1)];
        ++next_;
        return value;
    }
    std::size_t Drawn() const { return next_; }

private:
    std::vector<std::uint16_t> values_;
    std::size_t next_ = 0;
};

} // namespace crenovix::testsupport

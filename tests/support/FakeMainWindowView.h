// A main window without a toolkit: keeps every control's state by id, the device list, the
// progress bar and the message boxes, logs each change in order ("hide 1005", "enable 1",
// "text 1008=V1.00", "insert 0 Device not found!") and answers the file dialog from a script.
#pragma once

#include "app/MainWindowView.h"
#include "support/FakeUpdateWindow.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crenovix::testsupport {

class CFakeMainWindowView final : public IMainWindowView {
public:
    // Controls never touched count as visible, enabled and not ticked, as a fresh window's are.
    std::map<int, bool> visible;
    std::map<int, bool> enabled;
    std::map<int, bool> checked;
    std::map<int, std::string> texts;
    std::vector<std::string> lines;
    int selection = -1;
    int progressUpper = -1;
    int progressPos = -1;
    std::string linkTarget;
    std::vector<SMessageBoxCall> boxes;
    std::vector<std::string> notices;
    std::vector<std::string> log;

    // Answers of the file dialog in turn; nothing: the user cancels.
    std::deque<std::optional<std::string>> fileDialogAnswers;
    std::optional<std::string> logFileDialogAnswer;
    std::optional<std::string> diagnosticDialogAnswer;

    bool IsVisible(int id) const { return Get(visible, id, true); }
    bool IsEnabled(int id) const { return Get(enabled, id, true); }
    std::string Text(int id) const { return Get(texts, id, std::string()); }

    void SetVisible(int id, bool shown) override {
        Log((shown ? "show " : "hide ") + std::to_string(id));
        visible[id] = shown;
    }
    void SetEnabled(int id, bool on) override {
        Log((on ? "enable " : "disable ") + std::to_string(id));
        enabled[id] = on;
    }
    void SetText(int id, const std::string& text) override {
        Log("text " + std::to_string(id) + "=" + text);
        texts[id] = text;
    }
    std::string GetText(int id) override { return Text(id); }
    bool IsChecked(int id) override { return Get(checked, id, false); }
    void SetChecked(int id, bool on) override {
        Log((on ? "tick " : "untick ") + std::to_string(id));
        checked[id] = on;
    }
    void ListClear() override {
        Log("clear list");
        lines.clear();
    }
    void ListInsert(int index, const std::string& text) override {
        Log("insert " + std::to_string(index) + " " + text);
        lines.insert(lines.begin() + index, text);
    }
    void ListSelect(int index) override {
        Log("select " + std::to_string(index));
        selection = index;
    }
    int ListSelection() override { return selection; }
    void SetProgressRange(int upper) override { progressUpper = upper; }
    void SetProgressPos(int position) override { progressPos = position; }
    void SetLinkTarget(const std::string& url) override {
        Log("link " + url);
        linkTarget = url;
    }
    void MessageBox(const std::string& text, const std::string& title, EMessageIcon icon) override {
        Log("box " + title);
        boxes.push_back({text, title, icon, 0});
    }
    void ShowNotice(const std::string& text, const std::string& title) override {
        Log("notice " + title);
        notices.push_back(text);
    }
    std::optional<std::string> ChooseDiagnosticFile() override {
        Log("diagnostic dialog");
        return diagnosticDialogAnswer;
    }
    std::optional<std::string> ChooseUpdateLogFile(const std::string& current) override {
        Log("log file dialog at " + current);
        return logFileDialogAnswer;
    }
    std::optional<std::string> ChooseUpdateFile() override {
        if (fileDialogAnswers.empty()) {
            return std::nullopt;
        }
        auto answer = fileDialogAnswers.front();
        fileDialogAnswers.pop_front();
        return answer;
    }
    // Background work waits in `background` until the test runs it (RunBackground).
    void RunInBackground(BackgroundWork work) override {
        Log("background");
        background = std::move(work);
    }
    // Calls a run posts from its thread wait here until the test delivers them.
    void PostToWindow(std::function<void()> call) override {
        const std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(call));
    }
    void DeliverPosted() {
        std::deque<std::function<void()>> calls;
        {
            const std::lock_guard lock(postedMutex_);
            calls.swap(posted_);
        }
        for (const auto& call : calls) {
            call();
        }
    }
    void CloseNotice() override { Log("close notice"); }
    void RunBackground() {
        const CCancelToken running;
        if (const BackgroundWork work = std::exchange(background, nullptr)) {
            if (const std::function<void()> answer = work(running)) {
                answer();
            }
        }
    }
    BackgroundWork background;

    void Log(std::string entry) { log.push_back(std::move(entry)); }

private:
    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;

    template <typename T>
    static T Get(const std::map<int, T>& values, int id, T fallback) {
        const auto found = values.find(id);
        return found == values.end() ? fallback : found->second;
    }
};

} // namespace crenovix::testsupport

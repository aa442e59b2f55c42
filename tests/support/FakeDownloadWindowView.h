// The download window for window-logic tests: the list is a CMemoryReportList whose
// item-changed notification goes to the window logic, as the real list's does; every other
// control keeps its state, the save dialog answers what the test scripted, and message boxes,
// the main window's path and the closing are recorded.
#pragma once

#include "controls/ReportList.h"
#include "online/DownloadWindow.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crenovix::testsupport {

class CFakeDownloadWindowView final : public IDownloadWindowView {
public:
    CMemoryReportList list;
    std::string saveAs;
    bool statusShown = false;
    std::string statusText;
    std::vector<std::string> statusTexts;
    bool downloadEnabled = true;
    std::string linkText = kReleaseNotesCaption; // the template's caption
    std::string linkTarget;
    bool linkUnderlined = true;
    bool linkShown = true;
    std::vector<std::string> boxes;
    std::optional<std::string> saveDialogAnswer; // nothing: the user cancels
    std::vector<SSaveDialogRequest> saveDialogs;
    std::optional<std::string> mainWindowPath;
    bool closedOk = false;
    bool closedCancel = false;
    BackgroundWork background; // waits here until the test runs it
    bool inputsEnabled = true, progressShown = false, cancelShown = false;
    std::vector<int> progress;                 // every position set
    std::vector<std::function<void()>> posted; // run by RunBackground, before the answer
    std::optional<CCancelToken> backgroundToken;
    std::optional<std::string> downloadsFolder; // nothing: no downloads folder
    int columnFits = 0;

    // Routes the list's notification to `window`, as the toolkit's signal would.
    void Attach(CDownloadWindow& window) {
        list.onItemChanged = [&window](unsigned newState) { window.OnEntryChanged(newState); };
    }

    IReportListView& UpdatesList() override { return list; }
    std::string GetSaveAsText() override { return saveAs; }
    void SetSaveAsText(const std::string& text) override { saveAs = text; }
    void ShowStatusLine(bool shown) override { statusShown = shown; }
    void SetStatusText(const std::string& text) override {
        statusText = text;
        statusTexts.push_back(text);
    }
    void SetDownloadEnabled(bool enabled) override { downloadEnabled = enabled; }
    void SetLinkText(const std::string& text) override { linkText = text; }
    void SetLinkTarget(const std::string& url) override { linkTarget = url; }
    void DropLinkUnderline() override { linkUnderlined = false; }
    void ShowLink(bool shown) override { linkShown = shown; }
    void MessageBox(const std::string& text) override { boxes.push_back(text); }
    std::optional<std::string> RunSaveDialog(const SSaveDialogRequest& request) override {
        saveDialogs.push_back(request);
        return saveDialogAnswer;
    }
    std::optional<std::string> DownloadsFolder() override { return downloadsFolder; }
    void FitListColumns() override { ++columnFits; }
    void SetMainWindowPath(const std::string& path) override { mainWindowPath = path; }
    void EndDialogOk() override { closedOk = true; }
    void RunInBackground(BackgroundWork work) override { background = std::move(work); }
    void EndDialogCancel() override { closedCancel = true; }
    void SetInputsEnabled(bool enabled) override { inputsEnabled = enabled; }
    void ShowProgress(bool shown) override { progressShown = shown; }
    void SetProgress(int thousandths) override { progress.push_back(thousandths); }
    void ShowCancel(bool shown) override { cancelShown = shown; }
    void PostToWindow(std::function<void()> call) override { posted.push_back(std::move(call)); }
    void CancelBackground() override {
        if (backgroundToken) {
            backgroundToken->Cancel();
        }
    }
    // Runs the waiting work, then the calls it posted, then its answer unless `answer` is false
    // (the window closed first).
    void RunBackground(bool answer = true) {
        backgroundToken.emplace();
        const std::function<void()> result = std::exchange(background, nullptr)(*backgroundToken);
        for (const std::function<void()>& call : std::exchange(posted, {})) {
            call();
        }
        if (answer && result) {
            result();
        }
    }
};

} // namespace crenovix::testsupport

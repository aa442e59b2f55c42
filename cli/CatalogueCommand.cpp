// catalogue and download: the online functions of the main window and the download window from
// a terminal, on the same catalogue and download logic and the same servers (built in, or the
// CRENOVIX_PRIMARY_SERVER / CRENOVIX_SECOND_SERVER environment variables).
#include "cli/Commands.h"
#include "cli/Interrupts.h"
#include "online/Catalogue.h"
#include "online/DownloadWindow.h"
#include "platform/Platform.h"
#include "text/PrintableText.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <optional>
#include <thread>

namespace crenovix::cli {

namespace {

void AddColumns(IReportListView& list) {
    for (std::size_t column = 0; column < kDownloadColumns.size(); ++column) {
        list.InsertColumn(static_cast<int>(column), kDownloadColumns[column].heading,
                          kDownloadColumns[column].widthPx);
    }
}

// While it lives, an interrupt cancels the fetch or download under way instead of ending the
// program: the downloader then removes its part file (within its cancel poll), so an interrupted
// download leaves neither a part file nor a changed target behind.
class CInterruptCancels {
public:
    explicit CInterruptCancels(CCancelToken& token)
        : watcher_([this, &token] {
              while (!stop_.load()) {
                  if (CInterruptCounter::Count() > 0) {
                      token.Cancel();
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~CInterruptCancels() {
        stop_ = true;
        watcher_.join();
    }
    CInterruptCancels(const CInterruptCancels&) = delete;
    CInterruptCancels& operator=(const CInterruptCancels&) = delete;

private:
    CInterruptCounter interrupts_; // first: the watcher inherits its signal mask
    std::atomic<bool> stop_{false};
    std::thread watcher_;
};

int InterruptedOnline(std::ostream& err) {
    err << "crenovix-cli: interrupted; nothing was saved\n";
    return kExitInterrupted;
}

std::optional<int> ParseIndex(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// The download window on the console: the user's part (select a row, type the save-as path,
// press Download) is played from the command's arguments; the window's texts go to `err`.
class CConsoleDownloadView final : public IDownloadWindowView {
public:
    explicit CConsoleDownloadView(std::ostream& err) : err_(err) {}

    CMemoryReportList list;
    std::string saveAs;
    std::optional<std::string> mainWindowPath;
    bool closedOk = false;

    IReportListView& UpdatesList() override { return list; }
    std::string GetSaveAsText() override { return saveAs; }
    void SetSaveAsText(const std::string& text) override { saveAs = text; }
    void ShowStatusLine(bool shown) override { statusShown_ = shown; }
    void SetStatusText(const std::string& text) override {
        // One line: it quotes the entry's web address, whose line breaks are data.
        if (statusShown_) {
            err_ << Printable(text) << "\n";
        }
    }
    void SetDownloadEnabled(bool) override {}
    void SetLinkText(const std::string&) override {}
    void SetLinkTarget(const std::string&) override {}
    void DropLinkUnderline() override {}
    void ShowLink(bool) override {}
    void MessageBox(const std::string& text) override { err_ << PrintableLines(text, "") << "\n"; }
    std::optional<std::string> RunSaveDialog(const SSaveDialogRequest&) override {
        return std::nullopt;
    }
    void SetMainWindowPath(const std::string& path) override { mainWindowPath = path; }
    void EndDialogOk() override { closedOk = true; }

private:
    std::ostream& err_;
    bool statusShown_ = false;
};

class CConsoleDownloadHost final : public IDownloadWindowHost {
public:
    CConsoleDownloadHost(SOnlineContext& context, int index, std::string path, std::ostream& err)
        : context_(context), index_(index), path_(std::move(path)), err_(err) {}

    std::optional<std::string> savedPath;

    void MessageBox(const std::string& text) override { err_ << PrintableLines(text, "") << "\n"; }

    void RunDownloadWindow(const std::string& cataloguePath) override {
        CConsoleDownloadView view(err_);
        CDownloadWindow window(view, context_);
        view.list.onItemChanged = [&window](unsigned newState) { window.OnEntryChanged(newState); };
        window.OnInitDialog(cataloguePath);
        if (static_cast<std::size_t>(index_) >= view.list.rows.size()) {
            err_ << "crenovix-cli: the catalogue has no entry " << index_ << " (it lists "
                 << view.list.rows.size() << ")\n";
            return;
        }
        view.list.SelectAndFocusRow(index_);
        view.saveAs = path_;
        window.OnDownload();
        if (view.closedOk) {
            savedPath = view.mainWindowPath;
        }
    }

private:
    SOnlineContext& context_;
    int index_;
    std::string path_;
    std::ostream& err_;
};

} // namespace

int RunCatalogue(Args args, std::ostream& out, std::ostream& err) {
    if (!args.empty()) {
        err << "usage: crenovix-cli catalogue\n";
        return kExitUsage;
    }
    const auto online = CreateSystemPlatform()->CreateOnline();
    SOnlineContext& context = online->context;
    CCancelToken cancel;
    context.cancel = &cancel;
    SCatalogueFetch fetched;
    {
        const CInterruptCancels interrupts(cancel);
        fetched = FetchCatalogue(context);
    }
    if (cancel.Cancelled()) {
        return InterruptedOnline(err);
    }
    if (fetched.status.Failed()) {
        err << PrintableLines(CatalogueFailureMessage(fetched.status), "") << "\n";
        return kExitFailed;
    }
    SReleaseCheck release;
    {
        const std::unique_ptr<IIniSource> catalogue = context.ini.Open(fetched.file->Path());
        release = ReadNewRelease(*catalogue, context.servers);
    }
    CMemoryReportList list;
    AddColumns(list);
    LoadCatalogue(list, context, fetched.file->Path());
    fetched.file.reset(); // read: the temporary file goes now

    if (release.newer) {
        out << "Newer version: " << Printable(release.ver) << " " << Printable(release.url) << "\n";
    } else {
        out << "No newer version\n";
    }
    for (const std::vector<std::string>& row : list.rows) {
        for (std::size_t column = 0; column < row.size(); ++column) {
            out << (column == 0 ? "" : "\t") << Printable(row[column]);
        }
        out << "\n";
    }
    return kExitSuccess;
}

int RunDownload(Args args, std::ostream& out, std::ostream& err) {
    const std::optional<int> index = args.size() == 2 ? ParseIndex(args[0]) : std::nullopt;
    if (!index) {
        err << "usage: crenovix-cli download INDEX PATH\n";
        return kExitUsage;
    }
    const auto online = CreateSystemPlatform()->CreateOnline();
    CCancelToken cancel;
    online->context.cancel = &cancel;
    CConsoleDownloadHost host(online->context, *index, args[1], err);
    bool opened = false;
    {
        const CInterruptCancels interrupts(cancel);
        opened = OpenDownloadWindow(online->context, host);
    }
    if (cancel.Cancelled()) {
        return InterruptedOnline(err);
    }
    if (!opened || !host.savedPath) {
        return kExitFailed;
    }
    out << Printable(*host.savedPath) << "\n";
    return kExitSuccess;
}

} // namespace crenovix::cli

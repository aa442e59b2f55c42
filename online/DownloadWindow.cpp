#include "online/DownloadWindow.h"

#include "updatefile/UpdateFile.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace crenovix {

namespace {

void AddColumns(IReportListView& list) {
    list.EnableFullRowSelect();
    for (std::size_t column = 0; column < kDownloadColumns.size(); ++column) {
        list.InsertColumn(static_cast<int>(column), kDownloadColumns[column].heading,
                          kDownloadColumns[column].widthPx);
    }
}

bool IsSafeNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_' || c == '+' || c == '(' || c == ')' || c == ' ';
}

} // namespace

std::string SafeSaveName(std::string_view suggested) {
    constexpr std::size_t kMaxNameBytes = 120;
    const std::size_t slash = suggested.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        suggested.remove_prefix(slash + 1);
    }
    std::string name;
    for (const char c : suggested) {
        name += IsSafeNameCharacter(c) ? c : '_';
    }
    const std::size_t first = name.find_first_not_of(". ");
    if (first == std::string::npos) {
        return {};
    }
    name = name.substr(first, name.find_last_not_of(". ") - first + 1);
    // Windows takes these names, with any extension, for devices ("COM1.bin" is a serial port).
    std::string stem = name.substr(0, name.find('.'));
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    const bool device = stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" ||
                        ((stem.starts_with("COM") || stem.starts_with("LPT")) && stem.size() == 4 &&
                         stem[3] >= '1' && stem[3] <= '9');
    if (device) {
        std::string prefixed(1, '_'); // not insert(): g++ 12 at -O3 warns falsely (-Wrestrict)
        prefixed += name;
        name = std::move(prefixed);
    }
    return name.substr(0, kMaxNameBytes);
}

std::optional<std::string> CheckDownloadedUpdateFile(const std::string& path) {
    // A buffer of its own: the program's image holds the file the main window has chosen.
    std::vector<std::uint8_t> scratch(kUpdateImageSize);
    const ELoadOutcome outcome =
        LoadUpdateHeader(path, ImageBuffer(scratch.data(), scratch.size())).outcome;
    if (outcome == ELoadOutcome::Loaded) {
        return std::nullopt;
    }
    return "The downloaded file is not an update file (" + std::string(LoadOutcomeText(outcome)) +
           ").";
}

bool CDownloadWindow::OnInitDialog(const std::string& cataloguePath) {
    AddColumns(view_.UpdatesList());
    ListCatalogue(cataloguePath);
    return true;
}

void CDownloadWindow::ListCatalogue(const std::string& cataloguePath) {
    LoadCatalogue(view_.UpdatesList(), context_, cataloguePath);
    view_.SetLinkTarget(context_.servers.ReleaseNotesUrl());
    view_.DropLinkUnderline();
    view_.ShowLink(true);
}

bool CDownloadWindow::OnInitDialogFetching() {
    AddColumns(view_.UpdatesList());
    view_.SetDownloadEnabled(false);
    view_.ShowStatusLine(true);
    view_.SetStatusText(download_text::kLoadingList);
    fetching_ = true;
    view_.RunInBackground([this, context = context_](const CCancelToken& cancel) mutable {
        context.cancel = &cancel;
        SCatalogueFetch fetched = FetchCatalogue(context);
        return [this, fetched = std::move(fetched)] { OnCatalogueFetched(fetched); };
    });
    return true;
}

void CDownloadWindow::OnCatalogueFetched(const SCatalogueFetch& fetched) {
    fetching_ = false;
    view_.ShowStatusLine(false);
    view_.SetDownloadEnabled(true);
    if (fetched.status.Failed()) {
        view_.MessageBox(FailureMessage(kConnectingFailed, fetched.status));
        view_.EndDialogCancel();
        return;
    }
    ListCatalogue(fetched.file->Path());
}

ReleaseLink CDownloadWindow::ReleaseLinkForRow(int row) const {
    if (row >= 0 && static_cast<std::size_t>(row) < context_.links.size()) {
        return context_.links[static_cast<std::size_t>(row)];
    }
    return ReleaseLink{kReleaseNotesCaption, context_.servers.ReleaseNotesUrl()};
}

void CDownloadWindow::OnEntryChanged(unsigned newState) {
    if (newState != kItemSelectedFocused) {
        return;
    }
    IReportListView& list = view_.UpdatesList();
    const int row = list.GetFirstSelectedRow();
    std::string saveAs = SafeSaveName(list.GetItemText(row, kColumnFileName));
    if (!saveAs.empty()) {
        saveAs += ".bin";
    }
    view_.SetSaveAsText(saveAs);

    const ReleaseLink link = ReleaseLinkForRow(row);
    view_.ShowLink(false);
    view_.SetLinkText(link.strText);
    view_.SetLinkTarget(link.strUrl);
    view_.DropLinkUnderline();
    view_.ShowLink(true);
}

void CDownloadWindow::OnBrowse() {
    IReportListView& list = view_.UpdatesList();
    SSaveDialogRequest request;
    request.initialName =
        SafeSaveName(list.GetItemText(list.GetFirstSelectedRow(), kColumnFileName));
    if (const std::optional<std::string> path = view_.RunSaveDialog(request)) {
        view_.SetSaveAsText(*path);
    }
}

void CDownloadWindow::OnDownload() {
    if (fetching_ || downloading_) {
        return;
    }
    IReportListView& list = view_.UpdatesList();
    const std::string url = list.GetItemText(list.GetFirstSelectedRow(), kColumnUrl);
    const std::string path = view_.GetSaveAsText();
    downloading_ = true;
    LockForDownload(true);
    view_.ShowStatusLine(true);
    view_.SetStatusText(download_text::kDownloadPrefix + url);

    // The downloader replaces the file only when the whole resource has arrived and loads as an
    // update file, so a failure or a cancel leaves whatever was at `path` as it was.
    view_.RunInBackground([this, url, path, outer = context_.cancel,
                           &downloader = context_.fileDownloader](const CCancelToken& job) {
        const CCancelToken cancel(&job, outer);
        SDownloadOptions options;
        options.cancel = &cancel;
        options.check = CheckDownloadedUpdateFile;
        options.progress = [this](std::size_t received, std::optional<std::size_t> total) {
            view_.PostToWindow([this, received, total] { OnDownloadProgress(received, total); });
        };
        const SDownloadStatus status = downloader.DownloadToFile(url, path, options);
        return [this, status, path] { OnDownloaded(status, path); };
    });
}

void CDownloadWindow::OnCancelDownload() {
    if (downloading_) {
        cancelRequested_ = true;
        view_.CancelBackground();
    }
}

void CDownloadWindow::OnDownloadProgress(std::size_t received, std::optional<std::size_t> total) {
    if (!downloading_) {
        return; // a report that came after the answer
    }
    const std::size_t whole = total && *total > 0 ? *total : kMaxUpdateFileBytes;
    view_.SetProgress(static_cast<int>(std::min<std::size_t>(received, whole) * 1000 / whole));
}

void CDownloadWindow::OnDownloaded(const SDownloadStatus& status, const std::string& path) {
    downloading_ = false;
    // The user's own Cancel needs no box; any other cancel (an interrupt) is reported.
    const bool cancelledHere =
        std::exchange(cancelRequested_, false) && status.status == download_status::kCancelled;
    if (status.Failed() && !cancelledHere) {
        view_.SetStatusText(download_text::kDownloadFailed);
        view_.MessageBox(FailureMessage(download_text::kDownloadFailed, status));
    }
    LockForDownload(false);
    view_.ShowStatusLine(false);
    if (!status.Failed()) {
        view_.SetMainWindowPath(path);
        view_.EndDialogOk();
    }
}

void CDownloadWindow::LockForDownload(bool locked) {
    view_.SetDownloadEnabled(!locked);
    view_.SetInputsEnabled(!locked);
    view_.SetProgress(0);
    view_.ShowProgress(locked);
    view_.ShowCancel(locked);
}

} // namespace crenovix

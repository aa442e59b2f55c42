#include "online/DownloadWindow.h"

#include "base/Utf8.h"
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

bool IsSafeNameCharacter(char32_t c) {
    if (c < 0x80) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_' || c == '+' || c == '(' || c == ')' || c == ' ';
    }
    // Letters of other scripts (with their combining marks); not the Latin-1 symbols, "×", "÷",
    // the spaces, invisible and direction marks of General Punctuation, the operators (with the
    // division slash, a "/" look-alike), the ideographic space, private use, the full-width
    // punctuation ("／", "：") and the specials (byte-order mark, replacement character).
    const auto in = [c](char32_t first, char32_t last) { return c >= first && c <= last; };
    return c >= 0xC0 && c != 0xD7 && c != 0xF7 && !in(0x2000, 0x206F) && !in(0x2190, 0x2BFF) &&
           c != 0x3000 && !in(0xE000, 0xF8FF) && !in(0xFE00, 0xFE0F) && c != 0xFEFF &&
           !in(0xFF00, 0xFF20) && !in(0xFFF0, 0xFFFF) && c < 0xF0000;
}

bool IsWindowsDeviceName(const std::string& name) {
    // Windows takes these names, with any extension, for devices ("COM1.bin" is a serial port).
    std::string stem = name.substr(0, name.find('.'));
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" ||
           ((stem.starts_with("COM") || stem.starts_with("LPT")) && stem.size() == 4 &&
            stem[3] >= '1' && stem[3] <= '9');
}

} // namespace

std::string SafeSaveName(std::string_view suggested) {
    constexpr std::size_t kMaxNameBytes = 120;
    const std::size_t slash = suggested.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        suggested.remove_prefix(slash + 1);
    }
    std::string name;
    while (!suggested.empty()) {
        char32_t c = 0;
        const std::size_t length = Utf8Sequence(suggested, c).value_or(0);
        if (length > 0 && IsSafeNameCharacter(c)) {
            name.append(suggested.substr(0, length));
        } else {
            name += '_';
        }
        suggested.remove_prefix(std::max<std::size_t>(length, 1));
    }
    const std::size_t first = name.find_first_not_of(". ");
    if (first == std::string::npos) {
        return {};
    }
    name = name.substr(first, name.find_last_not_of(". ") - first + 1);
    if (IsWindowsDeviceName(name)) {
        std::string prefixed(1, '_'); // not insert(): g++ 12 at -O3 warns falsely (-Wrestrict)
        prefixed += name;
        name = std::move(prefixed);
    }
    return name.substr(0, Utf8Boundary(name, kMaxNameBytes));
}

std::string SuggestedSavePath(const std::optional<std::string>& folder, const std::string& name) {
    return name.empty() || !folder ? name : *folder + name;
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
    IReportListView& list = view_.UpdatesList();
    LoadCatalogue(list, context_, cataloguePath);
    view_.FitListColumns();
    view_.SetLinkTarget(context_.servers.ReleaseNotesUrl());
    view_.DropLinkUnderline();
    view_.ShowLink(true);
    // LoadCatalogue selects the first row: none means an empty list.
    if (list.GetFirstSelectedRow() < 0) {
        view_.ShowStatusLine(true);
        view_.SetStatusText(download_text::kNoUpdateFiles);
    }
    UpdateDownloadEnabled();
}

void CDownloadWindow::UpdateDownloadEnabled() {
    if (!fetching_ && !downloading_) {
        view_.SetDownloadEnabled(view_.UpdatesList().GetFirstSelectedRow() >= 0);
    }
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
    if (fetched.status.Failed()) {
        view_.MessageBox(CatalogueFailureMessage(fetched.status));
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
    UpdateDownloadEnabled();
    if (newState != kItemSelectedFocused) {
        return;
    }
    IReportListView& list = view_.UpdatesList();
    const int row = list.GetFirstSelectedRow();
    std::string name = SafeSaveName(list.GetItemText(row, kColumnFileName));
    if (!name.empty()) {
        name += ".bin";
    }
    view_.SetSaveAsText(SuggestedSavePath(view_.DownloadsFolder(), name));

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
    request.initialName = SuggestedSavePath(
        view_.DownloadsFolder(),
        SafeSaveName(list.GetItemText(list.GetFirstSelectedRow(), kColumnFileName)));
    if (const std::optional<std::string> path = view_.RunSaveDialog(request)) {
        view_.SetSaveAsText(*path);
    }
}

void CDownloadWindow::OnDownload() {
    IReportListView& list = view_.UpdatesList();
    const int row = list.GetFirstSelectedRow();
    if (fetching_ || downloading_ || row < 0) {
        return;
    }
    const std::string url = list.GetItemText(row, kColumnUrl);
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
    if (locked) {
        view_.SetDownloadEnabled(false);
    } else {
        UpdateDownloadEnabled();
    }
    view_.SetInputsEnabled(!locked);
    view_.SetProgress(0);
    view_.ShowProgress(locked);
    view_.ShowCancel(locked);
}

} // namespace crenovix

#include "online/DownloadWindow.h"

namespace crenovix {

bool CDownloadWindow::OnInitDialog() {
    IReportListView& list = view_.UpdatesList();
    list.EnableFullRowSelect();
    for (std::size_t column = 0; column < kDownloadColumns.size(); ++column) {
        list.InsertColumn(static_cast<int>(column), kDownloadColumns[column].heading,
                          kDownloadColumns[column].widthPx);
    }
    LoadCatalogue(list, context_);
    view_.SetLinkTarget(context_.servers.ReleaseNotesUrl());
    view_.DropLinkUnderline();
    view_.ShowLink(true);
    return true;
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
    std::string saveAs = list.GetItemText(row, kColumnFileName);
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
    request.initialName = list.GetItemText(list.GetFirstSelectedRow(), kColumnFileName);
    if (const std::optional<std::string> path = view_.RunSaveDialog(request)) {
        view_.SetSaveAsText(*path);
    }
}

void CDownloadWindow::OnDownload() {
    view_.SetDownloadEnabled(false);
    IReportListView& list = view_.UpdatesList();
    const std::string url = list.GetItemText(list.GetFirstSelectedRow(), kColumnUrl);
    const std::string path = view_.GetSaveAsText();
    view_.ShowStatusLine(true);
    view_.SetStatusText(download_text::kDownloadPrefix + url);

    // The downloader replaces the file only when the whole resource has arrived, so a failure
    // leaves whatever was at `path` as it was.
    const SDownloadStatus status = context_.fileDownloader.DownloadToFile(url, path);
    if (status.Failed()) {
        view_.SetStatusText(download_text::kDownloadFailed);
        view_.MessageBox(FailureMessage(download_text::kDownloadFailed, status));
        view_.SetDownloadEnabled(true);
        view_.ShowStatusLine(false);
        return;
    }
    view_.SetMainWindowPath(path);
    view_.SetDownloadEnabled(true);
    view_.ShowStatusLine(false);
    view_.EndDialogOk();
}

} // namespace crenovix

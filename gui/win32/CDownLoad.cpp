#include "gui/win32/CDownLoad.h"

#include "app/DialogTemplate.h"
#include "app/StartUp.h"
#include "gui/win32/Artwork.h"

#include <commctrl.h>
#include <commdlg.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <span>

namespace crenovix::win32 {

namespace dl = download_ctl;

namespace {
// The template has no position of its own: the window opens over the middle of its owner, kept
// inside the owner's monitor.
void CentreOver(HWND window, HWND owner) {
    RECT own{};
    if (owner == nullptr || !GetWindowRect(window, &own)) {
        return;
    }
    RECT ownerRect{};
    GetWindowRect(owner, &ownerRect);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoA(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    const RECT area = monitor.rcWork;
    const LONG width = own.right - own.left;
    const LONG height = own.bottom - own.top;
    LONG x = (ownerRect.left + ownerRect.right - width) / 2;
    LONG y = (ownerRect.top + ownerRect.bottom - height) / 2;
    x = std::max(area.left, std::min(x, area.right - width));
    y = std::max(area.top, std::min(y, area.bottom - height));
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
} // namespace

CDownLoad::CDownLoad(SOnlineContext& context, IShell& shell,
                     std::function<void(const std::string&)> setMainWindowPath)
    : CDialogWindow(EDialog::Download), logic_(*this, context),
      setMainWindowPath_(std::move(setMainWindowPath)), link_(shell) {}

CDownLoad::~CDownLoad() {
    DestroyModeless();
}

INT_PTR CDownLoad::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == dl::kUpdatesList && header->code == LVN_GETINFOTIPW) {
            list_.CellTipAt(*reinterpret_cast<NMLVGETINFOTIPW*>(lParam));
            return TRUE;
        }
        if (header->idFrom != dl::kUpdatesList || header->code != LVN_ITEMCHANGED) {
            return FALSE;
        }
        logic_.OnEntryChanged(reinterpret_cast<const NMLISTVIEW*>(lParam)->uNewState);
        SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case dl::kDownload: // and Enter
            if (HIWORD(wParam) == BN_CLICKED && IsWindowEnabled(Control(dl::kDownload))) {
                logic_.OnDownload();
            }
            break;
        case dl::kCancel:
            if (HIWORD(wParam) == BN_CLICKED) {
                logic_.OnCancelDownload();
            }
            break;
        case dl::kBrowse:
            if (HIWORD(wParam) == BN_CLICKED) {
                logic_.OnBrowse();
            }
            break;
        case dl::kExit: // and Escape
            End(IDCANCEL);
            break;
        default:
            break;
        }
        return TRUE;
    case WM_CLOSE:
        End(IDCANCEL);
        return TRUE;
    case WM_SIZE:
        PlaceControls();
        return TRUE;
    case WM_GETMINMAXINFO:
        if (leastWindow_.cx > 0) {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize = {leastWindow_.cx, leastWindow_.cy};
        }
        return TRUE;
    case kBackgroundAnswer:
        background_.Deliver();
        return TRUE;
    case WM_DESTROY:
        background_.Stop();
        return FALSE;
    default:
        return FALSE;
    }
}

void CDownLoad::RunInBackground(BackgroundWork work) {
    background_.Start(std::move(work));
}

void CDownLoad::EndDialogCancel() {
    End(IDCANCEL);
}

BOOL CDownLoad::OnInitDialog() {
    list_.Attach(Control(dl::kUpdatesList));
    link_.Attach(Control(dl::kReleaseNotesLink));
    ShowIconsAndPicture(ESidePicture::Download);
    MakeResizable();
    CentreOver(hwnd_, GetWindow(hwnd_, GW_OWNER));
    const bool focus =
        fetchedCatalogue ? logic_.OnInitDialog(*fetchedCatalogue) : logic_.OnInitDialogFetching();
    return focus ? TRUE : FALSE;
}

void CDownLoad::MakeResizable() {
    // The dialog made one child per template control, in order.
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT place{};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&place), 2);
        templatePlaces_.emplace_back(child, place);
    }
    if (templatePlaces_.size() != DownloadWindowTemplate().controls.size()) {
        templatePlaces_.clear();
        return; // not the template's window: it keeps its size
    }
    RECT client{};
    GetClientRect(hwnd_, &client);
    templateClient_ = {client.right, client.bottom};
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_STYLE)) | WS_THICKFRAME;
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrA(hwnd_, GWL_EXSTYLE));
    SetWindowLongPtrA(hwnd_, GWL_STYLE, static_cast<LONG_PTR>(style));
    RECT frame = client;
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    leastWindow_ = {frame.right - frame.left, frame.bottom - frame.top};
    SetWindowPos(hwnd_, nullptr, 0, 0, leastWindow_.cx, leastWindow_.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void CDownLoad::PlaceControls() {
    const std::span<const SControlTemplate> layout = DownloadWindowTemplate().controls;
    RECT client{};
    if (templatePlaces_.size() != layout.size() || !GetClientRect(hwnd_, &client)) {
        return;
    }
    const int dx = std::max<LONG>(0, client.right - templateClient_.cx);
    const int dy = std::max<LONG>(0, client.bottom - templateClient_.cy);
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const RECT& at = templatePlaces_[i].second;
        const SControlBox before{at.left, at.top, at.right - at.left, at.bottom - at.top};
        const SControlBox box = GrownDownloadControl(layout[i], before, dx, dy);
        if (box.x != before.x || box.y != before.y || box.w != before.w || box.h != before.h) {
            // What stays keeps its own fit (the link fits its text).
            SetWindowPos(templatePlaces_[i].first, nullptr, box.x, box.y, box.w, box.h,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void CDownLoad::End(INT_PTR result) {
    if (hwnd_ == nullptr) {
        return;
    }
    result_ = result;
    EndWindow(result);
}

IReportListView& CDownLoad::UpdatesList() {
    return list_;
}

std::string CDownLoad::GetSaveAsText() {
    return WindowText(Control(dl::kSaveAs));
}

void CDownLoad::SetSaveAsText(const std::string& text) {
    SetDlgItemTextA(hwnd_, dl::kSaveAs, text.c_str());
}

void CDownLoad::ShowStatusLine(bool shown) {
    const HWND status = Control(dl::kStatus);
    ShowWindow(status, shown ? SW_SHOWNA : SW_HIDE);
}

void CDownLoad::SetStatusText(const std::string& text) {
    SetWindowTextA(Control(dl::kStatus), text.c_str());
}

void CDownLoad::SetInputsEnabled(bool enabled) {
    for (const int id : {dl::kUpdatesList, dl::kSaveAs, dl::kBrowse}) {
        EnableWindow(Control(id), enabled ? TRUE : FALSE);
    }
}

void CDownLoad::ShowProgress(bool shown) {
    ShowWindow(Control(dl::kProgress), shown ? SW_SHOWNA : SW_HIDE);
}

void CDownLoad::SetProgress(int thousandths) {
    const HWND bar = Control(dl::kProgress);
    SendMessageA(bar, PBM_SETRANGE32, 0, 1000);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(thousandths), 0);
}

void CDownLoad::ShowCancel(bool shown) {
    const HWND cancel = Control(dl::kCancel);
    // Cancel stands in Download's place and takes the focus there, and gives it back.
    ShowWindow(shown ? cancel : Control(dl::kDownload), SW_SHOWNA);
    SendMessageA(hwnd_, WM_NEXTDLGCTL,
                 reinterpret_cast<WPARAM>(shown ? cancel : Control(dl::kDownload)), TRUE);
    ShowWindow(shown ? Control(dl::kDownload) : cancel, SW_HIDE);
}

void CDownLoad::PostToWindow(std::function<void()> call) {
    PostToWindowThread(std::move(call));
}

void CDownLoad::CancelBackground() {
    background_.Cancel();
}

void CDownLoad::SetDownloadEnabled(bool enabled) {
    const HWND button = Control(dl::kDownload);
    if (!enabled && GetFocus() == button) {
        SendMessageA(hwnd_, WM_NEXTDLGCTL, 0, FALSE);
    }
    EnableWindow(button, enabled);
}

void CDownLoad::SetLinkText(const std::string& text) {
    SetWindowTextA(link_.Handle(), text.c_str());
}

void CDownLoad::SetLinkTarget(const std::string& url) {
    link_.SetTarget(url);
}

void CDownLoad::DropLinkUnderline() {
    link_.DropUnderline();
}

void CDownLoad::ShowLink(bool shown) {
    ShowWindow(link_.Handle(), shown ? SW_SHOWNA : SW_HIDE);
}

void CDownLoad::MessageBox(const std::string& text) {
    if (messageBoxHandler) {
        messageBoxHandler(text);
        return;
    }
    MessageBoxA(hwnd_, text.c_str(), kProductName, MB_OK);
}

std::optional<std::string> CDownLoad::RunSaveDialog(const SSaveDialogRequest& request) {
    if (saveDialogHandler) {
        return saveDialogHandler(request);
    }
    std::string filter = request.filterLabel;
    filter.push_back('\0');
    filter += request.filterPattern;
    filter.push_back('\0'); // the string's own zero ends the list
    OPENFILENAMEA dialog{};
    dialog.hwndOwner = hwnd_;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrDefExt = request.defaultExtension.c_str();
    dialog.Flags = OFN_EXPLORER | (request.hideReadOnlyBox ? OFN_HIDEREADONLY : 0) |
                   (request.confirmOverwrite ? OFN_OVERWRITEPROMPT : 0);
    return RunFileDialog(dialog, request.initialName, true);
}

std::optional<std::string> CDownLoad::DownloadsFolder() {
    PWSTR folder = nullptr;
    std::optional<std::string> answer;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &folder))) {
        const DWORD attributes = GetFileAttributesW(folder);
        // In the front end's code page, unless it lacks one of the folder's characters.
        BOOL lost = FALSE;
        BOOL* const lossCheck = GetACP() == CP_UTF8 ? nullptr : &lost;
        const int bytes =
            WideCharToMultiByte(CP_ACP, 0, folder, -1, nullptr, 0, nullptr, lossCheck);
        std::string text(static_cast<std::size_t>(std::max(bytes, 1)), '\0');
        WideCharToMultiByte(CP_ACP, 0, folder, -1, text.data(), bytes, nullptr, lossCheck);
        text.resize(text.size() - 1);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            bytes > 1 && !lost) {
            answer = text.back() == '\\' ? text : text + '\\';
        }
    }
    CoTaskMemFree(folder);
    return answer;
}

void CDownLoad::FitListColumns() {
    list_.FitColumnsToContent();
}

void CDownLoad::SetMainWindowPath(const std::string& path) {
    if (setMainWindowPath_) {
        setMainWindowPath_(path);
    }
}

void CDownLoad::EndDialogOk() {
    End(IDOK);
}

void CDownloadWindowHost::MessageBox(const std::string& text) {
    mainWindow_.MessageBox(text, kProductName, EMessageIcon::None);
}

void CDownloadWindowHost::RunDownloadWindow(const std::string& cataloguePath) {
    Run(&cataloguePath);
}

void CDownloadWindowHost::OpenAtOnce() {
    Run(nullptr);
}

void CDownloadWindowHost::Run(const std::string* cataloguePath) {
    CDownLoad window(context_, shell_,
                     [this](const std::string& path) { mainWindow_.Logic().SetPathAndLoad(path); });
    if (cataloguePath != nullptr) {
        window.fetchedCatalogue = *cataloguePath;
    }
    if (prepareWindow) {
        prepareWindow(window);
    }
    window.DoModal(mainWindow_.Handle());
}

} // namespace crenovix::win32

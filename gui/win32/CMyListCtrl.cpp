#include "gui/win32/CMyListCtrl.h"

#include <commctrl.h>

#include <algorithm>
#include <string_view>

namespace crenovix::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;

int RowCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

int ColumnCount(HWND list) {
    const HWND header = ListView_GetHeader(list);
    return header != nullptr ? Header_GetItemCount(header) : 0;
}

bool HasCell(HWND list, int row, int column) {
    return row >= 0 && row < RowCount(list) && column >= 0 && column < ColumnCount(list);
}

// The front end's texts are in the process's ANSI code page (UTF-8 by the manifest); the list
// is driven with the wide messages, whose texts no code page of the list's own can narrow.
std::wstring Widen(const std::string& text) {
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, result.data(), wide);
    return result;
}

std::string Narrow(std::wstring_view text) {
    const int size = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), size, result.data(), bytes, nullptr, nullptr);
    return result;
}

// A cell's whole text, asked again with a larger buffer while the list may have cut it.
std::wstring CellText(HWND list, int row, int column) {
    std::wstring text(256, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = text.data();
        item.cchTextMax = static_cast<int>(text.size());
        const auto copied = static_cast<std::size_t>(SendMessageW(
            list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (copied + 1 < text.size()) {
            text.resize(copied);
            return text;
        }
        text.assign(text.size() * 2, L'\0');
    }
}

} // namespace

CMyListCtrl::~CMyListCtrl() {
    if (hwnd_ != nullptr) {
        RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
    }
}

void CMyListCtrl::Attach(HWND listView) {
    if (listView == nullptr || listView == hwnd_) {
        return;
    }
    if (hwnd_ != nullptr) {
        RemoveWindowSubclass(hwnd_, SubclassProc, kSubclassId);
    }
    hwnd_ = listView;
    SetWindowSubclass(hwnd_, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void CMyListCtrl::StretchLastColumn() {
    if (hwnd_ == nullptr) {
        return;
    }
    const int columns = ColumnCount(hwnd_);
    if (columns <= 0) {
        return;
    }
    // For the last column the list view gives it the width the others leave, at least the
    // width of its heading.
    ListView_SetColumnWidth(hwnd_, columns - 1, LVSCW_AUTOSIZE_USEHEADER);
}

void CMyListCtrl::FitColumnsToContent() {
    const int columns = ColumnCount(hwnd_);
    for (int column = 0; column + 1 < columns; ++column) {
        ListView_SetColumnWidth(hwnd_, column, LVSCW_AUTOSIZE);
        const int content = ListView_GetColumnWidth(hwnd_, column);
        ListView_SetColumnWidth(hwnd_, column, LVSCW_AUTOSIZE_USEHEADER);
        if (ListView_GetColumnWidth(hwnd_, column) < content) {
            ListView_SetColumnWidth(hwnd_, column, content);
        }
    }
    StretchLastColumn();
}

bool CMyListCtrl::CellTipAt(NMLVGETINFOTIPW& tip) const {
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(hwnd_, &cursor);
    LVHITTESTINFO hit{};
    hit.pt = cursor;
    if (ListView_SubItemHitTest(hwnd_, &hit) < 0 || hit.iItem != tip.iItem ||
        tip.pszText == nullptr || tip.cchTextMax <= 0) {
        return false;
    }
    const std::wstring text = CellText(hwnd_, hit.iItem, hit.iSubItem);
    const std::size_t fits = std::min(text.size(), static_cast<std::size_t>(tip.cchTextMax - 1));
    std::copy_n(text.begin(), fits, tip.pszText);
    tip.pszText[fits] = L'\0';
    return true;
}

void CMyListCtrl::EnableFullRowSelect() {
    // The info tip shows the whole text of the cell under the pointer (CellTipAt). In a window
    // made with the ANSI calls the list would ask for it as LVN_GETINFOTIPA, which CellTipAt does
    // not take: its notifications are made wide.
    constexpr DWORD kStyles = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
    ListView_SetExtendedListViewStyleEx(hwnd_, kStyles, kStyles);
    SendMessageW(hwnd_, CCM_SETUNICODEFORMAT, TRUE, 0);
}

void CMyListCtrl::InsertColumn(int index, const std::string& heading, int widthPx) {
    std::wstring text = Widen(heading);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = widthPx;
    column.pszText = text.data();
    SendMessageW(hwnd_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(std::max(index, 0)),
                 reinterpret_cast<LPARAM>(&column));
}

int CMyListCtrl::InsertRow(int index, const std::string& column0) {
    std::wstring text = Widen(column0);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = std::clamp(index, 0, RowCount(hwnd_));
    item.pszText = text.data();
    return static_cast<int>(
        SendMessageW(hwnd_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void CMyListCtrl::SetItemText(int row, int column, const std::string& text) {
    if (!HasCell(hwnd_, row, column)) {
        return;
    }
    std::wstring wide = Widen(text);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide.data();
    SendMessageW(hwnd_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

std::string CMyListCtrl::GetItemText(int row, int column) {
    if (!HasCell(hwnd_, row, column)) {
        return {};
    }
    return Narrow(CellText(hwnd_, row, column));
}

int CMyListCtrl::GetFirstSelectedRow() {
    return ListView_GetNextItem(hwnd_, -1, LVNI_SELECTED);
}

void CMyListCtrl::SelectAndFocusRow(int row) {
    // Row -1 would mean every row to the list view.
    if (row < 0 || row >= RowCount(hwnd_)) {
        return;
    }
    constexpr UINT kBoth = LVIS_SELECTED | LVIS_FOCUSED;
    // The list view reports only changes: a row that already is the selected and focused one
    // is cleared first, so the window hears of it as promised.
    if (ListView_GetItemState(hwnd_, row, kBoth) == kBoth) {
        ListView_SetItemState(hwnd_, row, 0, kBoth);
    }
    ListView_SetItemState(hwnd_, row, kBoth, kBoth);
    ListView_EnsureVisible(hwnd_, row, FALSE);
}

LRESULT CALLBACK CMyListCtrl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR, DWORD_PTR self) {
    auto* list = reinterpret_cast<CMyListCtrl*>(self);
    switch (message) {
    case WM_SIZE: {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        // The stretch waits until the size change, and whatever it queued, has been handled.
        PostMessageA(window, WM_STRETCHLASTCOLUMN, 0, 0);
        return result;
    }
    case WM_STRETCHLASTCOLUMN:
        list->StretchLastColumn();
        return 1;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header != nullptr && header->hwndFrom == ListView_GetHeader(window) &&
            (header->code == HDN_ENDTRACKA || header->code == HDN_ENDTRACKW)) {
            // The header reports the end of a drag before it applies the released width, which
            // differs from the last one tracked when the pointer moved on before the release; the
            // stretch therefore waits, like the one after a size change.
            const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
            PostMessageA(window, WM_STRETCHLASTCOLUMN, 0, 0);
            return result;
        }
        break;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, SubclassProc, kSubclassId);
        list->hwnd_ = nullptr;
        break;
    default:
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

} // namespace crenovix::win32

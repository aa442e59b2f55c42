// CMyListCtrl on Windows: a report-mode list view whose last column always reaches the list's
// right edge, the download window's catalogue list (1004).
//
// The subclassed list posts itself WM_STRETCHLASTCOLUMN after every WM_SIZE (so the stretch runs
// once the size change has been processed completely) and after the user drags a column divider
// (HDN_ENDTRACK from its header, which comes before the header applies the released width). The
// stretch itself is
// ListView_SetColumnWidth(last, LVSCW_AUTOSIZE_USEHEADER). Item-changed notifications
// (LVN_ITEMCHANGED) go to the parent dialog as usual; SelectAndFocusRow raises one synchronously.
// Texts go to the list through the wide messages, converted from the front end's code page.
#pragma once

#include "controls/ReportList.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

namespace crenovix::win32 {

inline constexpr UINT WM_STRETCHLASTCOLUMN = WM_APP + 1;

class CMyListCtrl final : public IReportListView {
public:
    CMyListCtrl() = default;
    ~CMyListCtrl() override;
    CMyListCtrl(const CMyListCtrl&) = delete;
    CMyListCtrl& operator=(const CMyListCtrl&) = delete;

    // Subclasses `listView`, a list view control in report mode.
    void Attach(HWND listView);
    HWND Handle() const { return hwnd_; }

    void StretchLastColumn();
    // Every column but the last as wide as its widest text or its heading, then the stretch.
    void FitColumnsToContent();
    // LVN_GETINFOTIPW for the list (sent to its parent): the whole text of the cell under the
    // pointer. False when the pointer is over no cell of that row.
    bool CellTipAt(NMLVGETINFOTIPW& tip) const;

    // IReportListView.
    void EnableFullRowSelect() override;
    void InsertColumn(int index, const std::string& heading, int widthPx) override;
    int InsertRow(int index, const std::string& column0) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) override;
    int GetFirstSelectedRow() override;
    void SelectAndFocusRow(int row) override;

private:
    static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);

    HWND hwnd_ = nullptr;
};

} // namespace crenovix::win32

// The report list (CMyListCtrl): rows of text columns, one selected row, and a last column that
// always reaches the list's right edge.
//
// IReportListView is what the catalogue and the download window need of the list; the Qt list,
// the Windows list view and CMemoryReportList (the command line's list, also used by tests)
// implement it. Rows and columns are counted from 0; widths are in pixels.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace crenovix {

// The item state of a row that has become the selected and focused row (selected | focused).
inline constexpr unsigned kItemSelectedFocused = 3;

class IReportListView {
public:
    virtual ~IReportListView() = default;

    virtual void EnableFullRowSelect() = 0; // a click anywhere on a row selects the row
    // Appends a left-aligned column at `index`.
    virtual void InsertColumn(int index, const std::string& heading, int widthPx) = 0;
    // Inserts a row at `index` (at the end when `index` is beyond it) with `column0` in column
    // 0 and empty texts elsewhere; returns the row's index.
    virtual int InsertRow(int index, const std::string& column0) = 0;
    // Sets a text; a row or column the list does not have is ignored.
    virtual void SetItemText(int row, int column, const std::string& text) = 0;
    // The text of a cell; empty for a row or column the list does not have (row -1 included).
    virtual std::string GetItemText(int row, int column) = 0;
    // The first selected row, -1 when no row is selected.
    virtual int GetFirstSelectedRow() = 0;
    // Makes `row` the selected and focused row. When the row exists the list raises its
    // item-changed notification with kItemSelectedFocused, which the window handles before this
    // call returns (CDownloadWindow::OnEntryChanged); for a row it does not have nothing happens.
    virtual void SelectAndFocusRow(int row) = 0;
};

// A list held in memory: the command line's list, and the list of window-logic tests.
class CMemoryReportList final : public IReportListView {
public:
    struct SColumn {
        std::string heading;
        int widthPx = 0;
    };
    std::vector<SColumn> columns;
    std::vector<std::vector<std::string>> rows; // one text per column
    int selected = -1;
    bool fullRowSelect = false;
    // Raised by SelectAndFocusRow, as the item-changed notification, with the new item state.
    std::function<void(unsigned newState)> onItemChanged;

    void EnableFullRowSelect() override { fullRowSelect = true; }
    void InsertColumn(int index, const std::string& heading, int widthPx) override;
    int InsertRow(int index, const std::string& column0) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) override;
    int GetFirstSelectedRow() override { return selected; }
    void SelectAndFocusRow(int row) override;
    // The user clicking the list's empty area: no row is selected any more.
    void ClearSelection() { selected = -1; }

private:
    bool HasCell(int row, int column) const;
};

// The width of the last column after a stretch: the client width left by the other columns, but
// never less than the width its heading needs.
int StretchedLastColumnWidth(int clientWidthPx, std::span<const int> otherColumnWidthsPx,
                             int headingWidthPx);

} // namespace crenovix

#include "controls/ReportList.h"

#include <algorithm>
#include <numeric>

namespace crenovix {

void CMemoryReportList::InsertColumn(int index, const std::string& heading, int widthPx) {
    const auto at =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), 0, columns.size());
    columns.insert(columns.begin() + static_cast<std::ptrdiff_t>(at), SColumn{heading, widthPx});
    for (std::vector<std::string>& row : rows) {
        row.insert(row.begin() + static_cast<std::ptrdiff_t>(std::min(at, row.size())), "");
    }
}

int CMemoryReportList::InsertRow(int index, const std::string& column0) {
    const auto at = std::min(static_cast<std::size_t>(std::max(index, 0)),
                             static_cast<std::size_t>(rows.size()));
    std::vector<std::string> row(std::max<std::size_t>(columns.size(), 1));
    row[0] = column0;
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), std::move(row));
    if (selected >= static_cast<int>(at)) {
        ++selected; // the selection stays on its row, as a list view keeps it
    }
    return static_cast<int>(at);
}

bool CMemoryReportList::HasCell(int row, int column) const {
    return row >= 0 && static_cast<std::size_t>(row) < rows.size() && column >= 0 &&
           static_cast<std::size_t>(column) < rows[static_cast<std::size_t>(row)].size();
}

void CMemoryReportList::SetItemText(int row, int column, const std::string& text) {
    if (HasCell(row, column)) {
        rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
    }
}

std::string CMemoryReportList::GetItemText(int row, int column) {
    if (!HasCell(row, column)) {
        return {};
    }
    return rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void CMemoryReportList::SelectAndFocusRow(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) {
        return;
    }
    selected = row;
    if (onItemChanged) {
        onItemChanged(kItemSelectedFocused);
    }
}

int StretchedLastColumnWidth(int clientWidthPx, std::span<const int> otherColumnWidthsPx,
                             int headingWidthPx) {
    const int others = std::accumulate(otherColumnWidthsPx.begin(), otherColumnWidthsPx.end(), 0);
    return std::max(headingWidthPx, clientWidthPx - others);
}

} // namespace crenovix

// CMyListCtrl: the download window's report list (1004) in Qt: rows of text columns under a
// header, one selected row (the whole row), the selection still drawn when the list has no focus,
// and a last column that reaches the list's right edge.
//
// The stretch follows StretchedLastColumnWidth (controls/ReportList.h): whenever the list's
// visible width changes (the list resized, a scroll bar coming or going) and whenever a column
// divider moves, the last column gets the width the other columns leave, but never less than its
// heading needs. It is renewed while a divider is dragged, so it holds when the drag ends.
//
// Each cell's tooltip is its whole text, for a text wider than its column.
//
// The item-changed notification of IReportListView: onItemChanged(kItemSelectedFocused) is raised
// once each time a row becomes the selected and current row, by the user (mouse, keys) or by
// SelectAndFocusRow, before that call returns; onItemChanged(0) when no row is selected any more.
#pragma once

#include "controls/ReportList.h"

#include <QTreeWidget>

#include <functional>
#include <string>

class QAbstractScrollArea;

namespace crenovix::qt {

// While `list` has the focus, a frame in the highlight colour inside its edge: the style's own
// mark (a dotted line around the current row) is too faint to find at a glance. Call after the
// list has painted its viewport.
void PaintListFocusMark(QAbstractScrollArea& list);

class CMyListCtrl final : public QTreeWidget, public IReportListView {
    Q_OBJECT

public:
    explicit CMyListCtrl(QWidget* parent = nullptr);

    std::function<void(unsigned newState)> onItemChanged;

    // Gives the last column the width left by the others, at least its heading's width.
    void StretchLastColumn();
    // Every column but the last as wide as its widest text or its heading, then the stretch.
    void FitColumnsToContent();

    // IReportListView.
    void EnableFullRowSelect() override;
    void InsertColumn(int index, const std::string& heading, int widthPx) override;
    int InsertRow(int index, const std::string& column0) override;
    void SetItemText(int row, int column, const std::string& text) override;
    std::string GetItemText(int row, int column) override;
    int GetFirstSelectedRow() override;
    void SelectAndFocusRow(int row) override;

protected:
    // Also receives the viewport's size changes (QAbstractScrollArea forwards them).
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnSelectionOrCurrentChanged();

    bool ownResize_ = false;      // our own column resizes are under way: not the user's
    int selectedCurrentRow_ = -1; // the row last reported as selected and current
};

} // namespace crenovix::qt

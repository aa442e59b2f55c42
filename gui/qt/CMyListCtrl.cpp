#include "gui/qt/CMyListCtrl.h"

#include "gui/qt/TemplateWidgets.h"

#include <QHeaderView>
#include <QPainter>

#include <algorithm>
#include <vector>

namespace crenovix::qt {

void PaintListFocusMark(QAbstractScrollArea& list) {
    if (!list.hasFocus()) {
        return;
    }
    QPainter painter(list.viewport());
    QPen pen(list.palette().color(QPalette::Active, QPalette::Highlight));
    pen.setWidth(2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(list.viewport()->rect()).adjusted(1, 1, -1, -1));
}

CMyListCtrl::CMyListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(0);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    header()->setStretchLastSection(false); // our own rule, with the heading as the least width
    header()->setSectionsMovable(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // The selection stays visible when the focus goes elsewhere (the save-as box, a button).
    QPalette colours = palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    }
    setPalette(colours);

    connect(header(), &QHeaderView::sectionResized, this, [this] { StretchLastColumn(); });
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnSelectionOrCurrentChanged(); });
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { OnSelectionOrCurrentChanged(); });
}

void CMyListCtrl::StretchLastColumn() {
    const int count = header()->count();
    if (count == 0 || ownResize_) {
        return;
    }
    std::vector<int> others;
    for (int column = 0; column + 1 < count; ++column) {
        others.push_back(header()->sectionSize(column));
    }
    const int width =
        StretchedLastColumnWidth(viewport()->width(), others, header()->sectionSizeHint(count - 1));
    ownResize_ = true; // the resize reports back through sectionResized
    header()->resizeSection(count - 1, width);
    ownResize_ = false;
}

void CMyListCtrl::FitColumnsToContent() {
    for (int column = 0; column + 1 < columnCount(); ++column) {
        resizeColumnToContents(column); // the heading's width at least
    }
    StretchLastColumn();
}

void CMyListCtrl::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    StretchLastColumn();
}

void CMyListCtrl::paintEvent(QPaintEvent* event) {
    QTreeWidget::paintEvent(event);
    PaintListFocusMark(*this);
}

void CMyListCtrl::OnSelectionOrCurrentChanged() {
    // Selecting a row and making it current come as two signals, in either order; the row is
    // reported once, when both hold.
    const QModelIndex current = currentIndex();
    const int row = current.isValid() && selectionModel()->isSelected(current) ? current.row() : -1;
    if (row == selectedCurrentRow_) {
        return;
    }
    selectedCurrentRow_ = row;
    if (onItemChanged) {
        onItemChanged(row >= 0 ? kItemSelectedFocused : 0u);
    }
}

void CMyListCtrl::EnableFullRowSelect() {
    // Rows are always selected whole; this also draws the focus across every column.
    setAllColumnsShowFocus(true);
}

void CMyListCtrl::InsertColumn(int index, const std::string& heading, int widthPx) {
    const int at = std::clamp(index, 0, columnCount());
    ownResize_ = true; // a new column is not a size change: the widths stay as given
    model()->insertColumn(at);
    headerItem()->setText(at, QString::fromStdString(heading));
    headerItem()->setTextAlignment(at, Qt::AlignLeft | Qt::AlignVCenter);
    header()->resizeSection(at, widthPx);
    ownResize_ = false;
}

int CMyListCtrl::InsertRow(int index, const std::string& column0) {
    const int at = std::clamp(index, 0, topLevelItemCount());
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(column0));
    item->setToolTip(0, PlainToolTip(item->text(0)));
    insertTopLevelItem(at, item);
    return at;
}

void CMyListCtrl::SetItemText(int row, int column, const std::string& text) {
    if (QTreeWidgetItem* item = topLevelItem(row);
        item != nullptr && column >= 0 && column < columnCount()) {
        item->setText(column, QString::fromStdString(text));
        item->setToolTip(column, PlainToolTip(item->text(column)));
    }
}

std::string CMyListCtrl::GetItemText(int row, int column) {
    const QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr || column < 0 || column >= columnCount()) {
        return {};
    }
    return item->text(column).toStdString();
}

int CMyListCtrl::GetFirstSelectedRow() {
    for (int row = 0; row < topLevelItemCount(); ++row) {
        if (topLevelItem(row)->isSelected()) {
            return row;
        }
    }
    return -1;
}

void CMyListCtrl::SelectAndFocusRow(int row) {
    if (QTreeWidgetItem* item = topLevelItem(row)) {
        setCurrentItem(item); // selects it alone and makes it current: the notification
        scrollToItem(item);
    }
}

} // namespace crenovix::qt

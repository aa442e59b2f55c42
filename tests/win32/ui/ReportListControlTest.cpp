// The report list on a real list view under wine: the last column reaching the right edge after
// a resize and after a divider drag in the header, and the item-changed notification that
// SelectAndFocusRow owes the parent before it returns.
#include "gui/win32/CMyListCtrl.h"

#include "win32/ui/ControlTestWindow.h"

#include <gtest/gtest.h>

#include <string>

namespace crenovix::win32 {
namespace {

class ReportListControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(window_.Created());
        listView_ = window_.AddChild(WC_LISTVIEWA, "",
                                     WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                                     1004, {10, 10, 310, 170});
        ASSERT_NE(listView_, nullptr);
        list_.Attach(listView_);
        list_.EnableFullRowSelect();
        list_.InsertColumn(0, "Name", 80);
        list_.InsertColumn(1, "Version", 60);
        list_.InsertColumn(2, "File", 50);
        CControlTestWindow::DispatchQueued();
    }

    HWND Header() const { return ListView_GetHeader(listView_); }

    int LastColumnRight() const {
        RECT item{};
        Header_GetItemRect(Header(), Header_GetItemCount(Header()) - 1, &item);
        return item.right;
    }

    int ClientRight() const {
        RECT client{};
        GetClientRect(listView_, &client);
        return client.right;
    }

    CControlTestWindow window_;
    HWND listView_ = nullptr;
    CMyListCtrl list_;
};

TEST_F(ReportListControlTest, LastColumnReachesTheRightEdgeAfterResizeAndDividerDrag) {
    SetWindowPos(listView_, nullptr, 0, 0, 420, 160, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    CControlTestWindow::DispatchQueued();
    EXPECT_EQ(LastColumnRight(), ClientRight());

    // The first divider dragged to the left and released a little further on than the last
    // movement tracked: the header applies that last width only after reporting the end of the
    // drag. The columns leave room, so no scroll bar comes or goes and only the end of the drag
    // can renew the stretch.
    RECT first{};
    Header_GetItemRect(Header(), 0, &first);
    const int y = (first.top + first.bottom) / 2;
    SendMessageA(Header(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(first.right, y));
    SendMessageA(Header(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(first.right - 15, y));
    SendMessageA(Header(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(first.right - 30, y));
    SendMessageA(Header(), WM_LBUTTONUP, 0, MAKELPARAM(first.right - 35, y));
    CControlTestWindow::DispatchQueued();
    ASSERT_EQ(ListView_GetColumnWidth(listView_, 0), 45) << "the drag did not reach the header";
    EXPECT_EQ(LastColumnRight(), ClientRight());
}

TEST_F(ReportListControlTest, SelectAndFocusRowNotifiesTheParentBeforeReturning) {
    for (int row = 0; row < 3; ++row) {
        ASSERT_EQ(list_.InsertRow(row, "Charger " + std::to_string(row)), row);
        list_.SetItemText(row, 1, "1." + std::to_string(row));
    }
    const auto selectedFocused = [this](int row) {
        for (const SItemChange& change : window_.itemChanges) {
            if (change.row == row && change.newState == kItemSelectedFocused) {
                return true;
            }
        }
        return false;
    };

    window_.itemChanges.clear();
    list_.SelectAndFocusRow(1);
    EXPECT_TRUE(selectedFocused(1));
    EXPECT_EQ(list_.GetFirstSelectedRow(), 1);

    // Already the selected and focused row: still reported.
    window_.itemChanges.clear();
    list_.SelectAndFocusRow(1);
    EXPECT_TRUE(selectedFocused(1));

    // Texts longer than a first read buffer come back whole.
    const std::string longText = std::string(600, 'x') + "end";
    list_.SetItemText(2, 1, longText);
    EXPECT_EQ(list_.GetItemText(2, 1), longText);
    EXPECT_EQ(list_.GetItemText(0, 0), "Charger 0");
}

} // namespace
} // namespace crenovix::win32

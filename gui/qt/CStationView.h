// CStationView: the station window in Qt. It builds the controls of the station's template
// (object names "ctl<id>"), puts a progress bar in every row's progress column, forwards the
// controls' events to CStationWindow and carries out what it asks of the view. The window can
// be resized: the list takes the room, the controls below it keep to the bottom edge.
//
// Opened by "crenovix --station" as the program's window, or from the main window's context
// menu ("Station view..."), modally over it, so the main window starts no run of its own while
// the station's runs go on.
#pragma once

#include "app/StationView.h"
#include "app/StationWindow.h"
#include "gui/qt/TemplateWidgets.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <map>
#include <optional>
#include <string>

class QTimer;

namespace crenovix::qt {

class CMyListCtrl;

class CStationView final : public QDialog, public CTemplateControls, public IStationView {
    Q_OBJECT

public:
    CStationView(SStationServices services, QWidget* parent = nullptr);
    ~CStationView() override;

    // Columns, the first listing and `path` as the station's file; call before showing.
    void Initialize(const std::string& path);

    CStationWindow& Logic() { return logic_; }
    CMyListCtrl& List() { return *list_; }
    QMessageBox* Notice() const { return notice_; }

    // Replace it to answer the file dialog without a person.
    std::function<std::optional<std::string>()> fileDialogHandler;

    // IStationView.
    IReportListView& Units() override;
    void SetRowProgress(int row, int position, int upper, const std::string& percent) override;
    std::optional<std::string> ChooseUpdateFile() override;
    void PostToWindow(std::function<void()> call) override;
    void ShowNotice(const std::string& text, const std::string& title) override;
    void CloseNotice() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    CMyListCtrl* list_ = nullptr;
    QSize built_; // the size the template gave
    std::map<int, QRect> placed_;
    int resultWidth_ = -1; // the result column's width at the template's size
    QPointer<QMessageBox> notice_;
    QTimer* ticks_ = nullptr;
    CStationWindow logic_; // last: its end waits for runs that post to this window
};

} // namespace crenovix::qt

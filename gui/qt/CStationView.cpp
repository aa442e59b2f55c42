#include "gui/qt/CStationView.h"

#include "app/DialogTemplate.h"
#include "gui/qt/Artwork.h"
#include "gui/qt/CMyListCtrl.h"
#include "gui/qt/TemplateWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

namespace crenovix::qt {

namespace st = station_ctl;

namespace {
// How often the rows' times move on while runs go on.
constexpr int kTickMs = 500;

SDialogUnits UnitsOf(const QWidget& window) {
    const QFontMetrics metrics(window.font());
    return DialogUnitsFromFont(
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
        metrics.height());
}
} // namespace

CStationView::CStationView(SStationServices services, QWidget* parent)
    : QDialog(parent), logic_(*this, std::move(services)) {
    setObjectName("CStationView");
    setWindowTitle(FromUtf8(StationWindowTemplate().caption));
    setWindowIcon(AppIcon());
    controls_ = BuildFromTemplate(*this, StationWindowTemplate(), {});
    // The template's size is the least; more room goes to the list.
    built_ = size();
    setMinimumSize(built_);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setSizeGripEnabled(true);
    for (const auto& [id, widget] : controls_) {
        placed_[id] = widget->geometry();
    }
    list_ = qobject_cast<CMyListCtrl*>(Control(st::kUnits));
    SetAccessibleTexts(controls_,
                       {{st::kPath, "Update file", "Path of the update file every charger gets"},
                        {st::kOpen, "Open...", "Chooses the station's update file"},
                        {st::kErrorLine, "", "Why the update file cannot be used"},
                        {st::kUnits, "Chargers",
                         "One row per charger: port, type, serial number, state, "
                         "progress, result and time"},
                        {st::kCounters, "", "Chargers updated and failed"},
                        {st::kAutomatic, "Automatic", "Updates every charger plugged in, once"},
                        {st::kUpdateAll, "Update all", "Updates every charger listed at once"},
                        {st::kClose, "Close", "Closes the station"}});

    connect(static_cast<QLineEdit*>(Control(st::kPath)), &QLineEdit::textEdited, this,
            [this] { logic_.OnPathEdited(); });
    connect(static_cast<QPushButton*>(Control(st::kOpen)), &QPushButton::clicked, this,
            [this] { logic_.OnOpenClicked(); });
    connect(static_cast<QCheckBox*>(Control(st::kAutomatic)), &QCheckBox::clicked, this,
            [this] { logic_.OnAutomaticClicked(); });
    connect(static_cast<QPushButton*>(Control(st::kUpdateAll)), &QPushButton::clicked, this,
            [this] { logic_.OnUpdateAllClicked(); });
    connect(static_cast<QPushButton*>(Control(st::kClose)), &QPushButton::clicked, this,
            [this] { reject(); });
    ticks_ = new QTimer(this);
    connect(ticks_, &QTimer::timeout, this, [this] { logic_.OnTimer(); });
    ticks_->start(kTickMs);
}

CStationView::~CStationView() = default;

void CStationView::Initialize(const std::string& path) {
    const SDialogUnits units = UnitsOf(*this);
    logic_.OnInitDialog([units](int width) { return units.X(width); }, path);
}

void CStationView::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int dw = width() - built_.width();
    const int dh = height() - built_.height();
    const QRect list = placed_[st::kUnits];
    for (const auto& [id, widget] : controls_) {
        QRect place = placed_[id];
        if (id == st::kUnits) {
            place.adjust(0, 0, dw, dh);
        } else if (id == st::kPath || id == st::kErrorLine) {
            place.adjust(0, 0, dw, 0);
        } else if (id == st::kOpen) {
            place.translate(dw, 0);
        } else if (place.top() >= list.bottom()) {
            // Below the list: to the bottom edge, the buttons to the right one.
            place.translate(id == st::kUpdateAll || id == st::kClose ? dw : 0, dh);
        }
        widget->setGeometry(place);
    }
    // The result column takes the room the window gained: its texts are the longest.
    if (list_->columnCount() > kColResult) {
        if (resultWidth_ < 0) {
            resultWidth_ = list_->columnWidth(kColResult);
        }
        list_->setColumnWidth(kColResult, resultWidth_ + std::max(dw, 0));
    }
}

IReportListView& CStationView::Units() {
    return *list_;
}

void CStationView::SetRowProgress(int row, int position, int upper, const std::string& percent) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item == nullptr) {
        return;
    }
    auto* bar = qobject_cast<QProgressBar*>(list_->itemWidget(item, kColProgress));
    if (bar == nullptr) {
        bar = new QProgressBar;
        bar->setTextVisible(true);
        bar->setAccessibleName(QStringLiteral("Progress"));
        list_->setItemWidget(item, kColProgress, bar);
        item->setText(kColProgress, {}); // the bar says it
    }
    bar->setRange(0, upper);
    bar->setValue(position);
    bar->setFormat(FromUtf8(percent));
}

std::optional<std::string> CStationView::ChooseUpdateFile() {
    if (fileDialogHandler) {
        return fileDialogHandler();
    }
    return ChooseUpdateFileName(this);
}

void CStationView::PostToWindow(std::function<void()> call) {
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CStationView::ShowNotice(const std::string& text, const std::string& title) {
    ShowNoticeBox(notice_, this, text, title);
}

void CStationView::CloseNotice() {
    if (notice_ != nullptr) {
        notice_->close();
    }
}

void CStationView::closeEvent(QCloseEvent* event) {
    if (logic_.OnCloseRequested()) {
        QDialog::closeEvent(event);
    } else {
        event->ignore();
    }
}

void CStationView::reject() {
    if (logic_.OnCloseRequested()) {
        QDialog::reject();
    }
}

} // namespace crenovix::qt

#include "gui/qt/AccessHint.h"

#include "doctor/linux/DoctorSystem.h"

#include <QMessageBox>

namespace crenovix::qt {

CAccessHintBox::CAccessHintBox(QWidget* parent, const SDeviceListState& devices)
    : parent_(parent), devices_(devices), system_(doctor::CreateLinuxDoctorSystem()) {}

CAccessHintBox::~CAccessHintBox() = default;

void CAccessHintBox::Check() {
    // A run clears bListRefreshEnabled; the checks would only slow its device-change handling.
    if (!devices_.bListRefreshEnabled) {
        return;
    }
    const auto text = hint_.Next(doctor::RunDoctorChecks(*system_), false);
    if (!text) {
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, "Info", QString::fromStdString(*text), QMessageBox::Ok,
                    parent_);
    box.setTextFormat(Qt::PlainText);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse); // the command can be copied
    box.exec();
    hint_.Closed();
}

} // namespace crenovix::qt

// The window's word when a charger is plugged in but cannot be opened: the doctor's checks after
// a device change, and each newly plugged charger's problem shown once in an "Info" box with the
// command that fixes it (the same texts as `crenovix-cli doctor`). Never during an update run,
// never a second box over one still open.
#pragma once

#include "device/DeviceTable.h"
#include "doctor/Doctor.h"

#include <QWidget>

#include <memory>

namespace crenovix::qt {

class CAccessHintBox {
public:
    CAccessHintBox(QWidget* parent, const SDeviceListState& devices);
    ~CAccessHintBox();
    CAccessHintBox(const CAccessHintBox&) = delete;
    CAccessHintBox& operator=(const CAccessHintBox&) = delete;

    void Check();

private:
    QWidget* parent_;
    const SDeviceListState& devices_;
    std::unique_ptr<doctor::IDoctorSystem> system_;
    doctor::CAccessHint hint_;
};

} // namespace crenovix::qt

// The device table of a run that is not the window's: every row the enumeration gives, and a
// run's own 32-row table with its charger in it. The command line's runs and the station's runs
// fill theirs here.
#pragma once

#include "device/DeviceTable.h"

#include <string>
#include <vector>

namespace crenovix {

// A row of the enumeration as the window's table would hold it, and the list box's line for it.
struct SListedRow {
    SDeviceEntry entry;
    std::string line;
};

// Every row the enumeration gives (not only the first 32 a window's table holds): chargers, and
// plain serial ports with `comPorts`. Throws CEnumerationError.
std::vector<SListedRow> ListRows(IDeviceEnumerator& enumerator, bool comPorts);

// A run's enumeration with its own charger's records first, so that its device table (32 rows,
// as the window's) holds that charger however many others the machine has. The dialogue finds
// rows by what they hold, never by their order. `bySerial`: records of the same type and serial
// number count as the charger's too, wherever they sit (it restarts under another port name).
class CTargetFirst final : public IDeviceEnumerator {
public:
    CTargetFirst(IDeviceEnumerator& inner, SDeviceEntry target, bool bySerial)
        : inner_(inner), target_(std::move(target)), bySerial_(bySerial) {}

    void ListDevices(SerInfoList& list, bool bProbePorts) override;

private:
    IDeviceEnumerator& inner_;
    SDeviceEntry target_;
    bool bySerial_;
};

// The first 32 rows of the run's enumeration, as the window's table holds them. An enumeration
// error leaves the table as it was; the run goes on with it.
void RefillTable(SDeviceListState& devices, IDeviceEnumerator& enumerator, bool comPorts);

// Fills a run's table and returns the row of `target` in it: the row at its port that holds the
// same charger (type and serial number), or with `bySerial` the charger's row wherever it now
// sits. Positions move while other chargers restart, so a row is never taken by its port alone:
// it could hold another charger. A plain serial port the enumeration does not list (named by the
// user) takes the last row when the table is full; a charger that is not listed gives -1.
int FillRunTable(SDeviceListState& devices, IDeviceEnumerator& enumerator,
                 const SDeviceEntry& target, bool bySerial, bool comPorts);

} // namespace crenovix

#include "app/RunTable.h"

#include "device/SerialEnumeration.h"

#include <algorithm>

namespace crenovix {

std::vector<SListedRow> ListRows(IDeviceEnumerator& enumerator, bool comPorts) {
    SerInfoList records;
    enumerator.ListDevices(records, comPorts);
    std::vector<SListedRow> rows;
    for (const SSerInfo& record : records) {
        if (auto entry = DeviceEntryFor(record, comPorts)) {
            std::string line = DeviceLineFor(record, *entry);
            rows.push_back({std::move(*entry), std::move(line)});
        }
    }
    return rows;
}

void CTargetFirst::ListDevices(SerInfoList& list, bool bProbePorts) {
    inner_.ListDevices(list, bProbePorts);
    std::stable_partition(list.begin(), list.end(), [this](const SSerInfo& record) {
        if (PortNameFromFriendly(record.strFriendly) == target_.strPort) {
            return true;
        }
        return bySerial_ && record.bCharger == 1 && !target_.strSerial.empty() &&
               SerialFromPath(record.strPath) == target_.strSerial &&
               record.strBusDesc == target_.strType;
    });
}

void RefillTable(SDeviceListState& devices, IDeviceEnumerator& enumerator, bool comPorts) {
    std::vector<SListedRow> rows;
    try {
        rows = ListRows(enumerator, comPorts);
    } catch (const CEnumerationError&) {
        return;
    }
    devices.nDeviceCount = static_cast<int>(std::min<std::size_t>(rows.size(), kDeviceTableRows));
    for (int row = 0; row < devices.nDeviceCount; ++row) {
        devices.rows[static_cast<std::size_t>(row)] = rows[static_cast<std::size_t>(row)].entry;
    }
}

int FillRunTable(SDeviceListState& devices, IDeviceEnumerator& enumerator,
                 const SDeviceEntry& target, bool comPorts) {
    RefillTable(devices, enumerator, comPorts);
    const auto begin = devices.rows.begin();
    const auto end = begin + devices.nDeviceCount;
    // The charger itself, never another one that took its port since it was listed (a charger
    // of a run beside this one restarting moves the HID positions behind it): where it was, or
    // where it went when its serial number names it alone.
    auto found = std::find_if(begin, end, [&](const SDeviceEntry& row) {
        return row.strPort == target.strPort && row.strType == target.strType &&
               row.strSerial == target.strSerial;
    });
    const auto sameSerial = [&](const SDeviceEntry& row) {
        return !target.strSerial.empty() && row.strType == target.strType &&
               row.strSerial == target.strSerial;
    };
    if (found == end && std::count_if(begin, end, sameSerial) == 1) {
        found = std::find_if(begin, end, sameSerial);
    }
    int row = static_cast<int>(found - begin);
    if (row == devices.nDeviceCount) {
        row = std::min(row, kDeviceTableRows - 1);
        devices.rows[static_cast<std::size_t>(row)] = target;
        devices.nDeviceCount = row + 1;
    }
    return row;
}

} // namespace crenovix

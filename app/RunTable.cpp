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
                 const SDeviceEntry& target, bool bySerial, bool comPorts) {
    RefillTable(devices, enumerator, comPorts);
    const auto find = [&](auto&& matches) {
        for (int row = 0; row < devices.nDeviceCount; ++row) {
            if (matches(devices.rows[static_cast<std::size_t>(row)])) {
                return row;
            }
        }
        return -1;
    };
    const auto sameCharger = [&](const SDeviceEntry& row) {
        return row.strType == target.strType && row.strSerial == target.strSerial;
    };
    int row = find(
        [&](const SDeviceEntry& at) { return at.strPort == target.strPort && sameCharger(at); });
    if (row < 0 && bySerial && !target.strSerial.empty()) {
        row = find(sameCharger);
    }
    if (row < 0 && target.strType == "COMx" && target.strSerial.empty()) {
        row = std::min(devices.nDeviceCount, kDeviceTableRows - 1);
        devices.rows[static_cast<std::size_t>(row)] = target;
        devices.nDeviceCount = row + 1;
    }
    return row;
}

} // namespace crenovix

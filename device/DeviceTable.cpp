#include "device/DeviceTable.h"

#include <optional>

namespace crenovix {

std::string PortNameFromFriendly(const std::string& friendly) {
    const std::size_t open = friendly.find('(');
    if (open == std::string::npos) {
        return {};
    }
    const std::size_t close = friendly.find(')', open);
    if (close == std::string::npos) {
        return {};
    }
    return friendly.substr(open + 1, close - open - 1);
}

std::string SerialFromPath(const std::string& path) {
    const std::size_t first = path.find('#');
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t second = path.find('#', first + 1);
    if (second == std::string::npos) {
        return {};
    }
    const std::size_t end = path.find('#', second + 1);
    return path.substr(second + 1, end == std::string::npos ? std::string::npos : end - second - 1);
}

bool SameCharger(const SDeviceEntry& a, const SDeviceEntry& b) {
    if (a.strType != b.strType || a.strSerial != b.strSerial) {
        return false;
    }
    return !a.strSerial.empty() || a.strPort == b.strPort;
}

std::optional<SDeviceEntry> DeviceEntryFor(const SSerInfo& record, bool comPortsTicked) {
    if (record.bCharger == 1) {
        return SDeviceEntry{record.strBusDesc, SerialFromPath(record.strPath),
                            PortNameFromFriendly(record.strFriendly), record.nHidIndex};
    }
    if (comPortsTicked) {
        return SDeviceEntry{"COMx", "", PortNameFromFriendly(record.strFriendly)};
    }
    return std::nullopt;
}

std::string DeviceLineFor(const SSerInfo& record, const SDeviceEntry& row) {
    return record.bCharger == 1 ? "Type: " + row.strType + ", S/N:" + row.strSerial
                                : record.strFriendly;
}

void RefreshDeviceList(SDeviceListState& state, IDeviceListView& view,
                       IDeviceEnumerator& enumerator, const SDeviceEntry* keep) {
    // A copy: `keep` may point into the table about to be rewritten.
    const std::optional<SDeviceEntry> kept =
        keep != nullptr ? std::optional<SDeviceEntry>(*keep) : std::nullopt;
    // Enumerate before touching anything, so that an error leaves the table, the count and the
    // list box as they were.
    SerInfoList list;
    enumerator.ListDevices(list, view.IsComPortBoxTicked());

    const bool bShow = state.bListRefreshEnabled;
    if (bShow) {
        view.ClearLines();
    }

    state.nDeviceCount = 0;
    for (const SSerInfo& record : list) {
        if (state.nDeviceCount >= kDeviceTableRows) {
            break; // the table is full; the update protocols look at no more rows either
        }
        const std::optional<SDeviceEntry> entry = DeviceEntryFor(record, view.IsComPortBoxTicked());
        if (!entry) {
            continue;
        }
        SDeviceEntry& row = state.rows[static_cast<std::size_t>(state.nDeviceCount)];
        row = *entry;
        if (bShow) {
            view.InsertLine(state.nDeviceCount, DeviceLineFor(record, row));
        }
        ++state.nDeviceCount;
    }

    if (state.nDeviceCount == 0) {
        if (bShow) {
            view.InsertLine(0, "Device not found!");
        }
        // Nothing to update, even while a run keeps the list box as it was.
        view.SetUpdateEnabled(false);
        if (bShow) {
            view.SelectLine(0);
        }
    } else if (bShow) {
        if (state.bFileValid) {
            view.SetUpdateEnabled(true);
        }
        int line = 0;
        for (int row = 0; kept && row < state.nDeviceCount; ++row) {
            if (SameCharger(state.rows[static_cast<std::size_t>(row)], *kept)) {
                line = row;
                break;
            }
        }
        view.SelectLine(line);
    }
}

} // namespace crenovix

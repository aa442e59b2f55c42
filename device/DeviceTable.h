// The device table behind the main window's device list, and RefreshDeviceList, which rebuilds
// it from a fresh enumeration and, outside an update run, the list box shown to the user.
//
// Row i of the table is line i of the list box; the update run takes the list box's selection
// as the row index. The window side is a small view interface, so the same logic serves the Qt
// window, the native Windows window, the command line and tests.
#pragma once

#include "device/SerInfo.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace crenovix {

inline constexpr int kDeviceTableRows = 32;

struct SDeviceEntry {
    std::string strType;   // charger: bus description (product string); plain port: "COMx"
    std::string strSerial; // charger: field 2 of the path split at "#"; plain port: empty
    std::string strPort;   // text between the first "(" of the friendly name and the next ")"
    // Written for charger rows only; meaningful for HID chargers.
    std::int32_t nHidIndex = -1;
};

// The state the device list shares with the window and the update run. The program keeps one
// instance for its whole life; tests make their own.
struct SDeviceListState {
    std::array<SDeviceEntry, kDeviceTableRows> rows{};
    int nDeviceCount = 0;
    bool bListRefreshEnabled = true; // false during an update run
    bool bFileValid = false;         // a valid update file is chosen
};

// What RefreshDeviceList needs of the window.
class IDeviceListView {
public:
    virtual ~IDeviceListView() = default;
    virtual bool IsComPortBoxTicked() = 0; // "Include COMx Port"
    virtual void ClearLines() = 0;
    virtual void InsertLine(int index, const std::string& text) = 0;
    virtual void SelectLine(int index) = 0;
    virtual void SetUpdateEnabled(bool enabled) = 0;
};

// The enumeration RefreshDeviceList runs (ListDevices with the platform's sources bound).
class IDeviceEnumerator {
public:
    virtual ~IDeviceEnumerator() = default;
    // Empties and fills `list`; throws CEnumerationError.
    virtual void ListDevices(SerInfoList& list, bool bProbePorts) = 0;
};

// Rebuilds the table and, when bListRefreshEnabled, the list lines. An enumeration error leaves
// table, count and list as they were and propagates (CEnumerationError). Records beyond the 32
// rows are left out.
// Refills the table and, unless a run has frozen it, the list. The list then selects the line of
// `keep` (the charger the user chose: see SameCharger) when it is still there, else its first
// line.
void RefreshDeviceList(SDeviceListState& state, IDeviceListView& view,
                       IDeviceEnumerator& enumerator, const SDeviceEntry* keep = nullptr);

// Whether two rows name the same charger: the same type and serial number, or for a row without
// a serial number (a plain port, or a charger that reports none) the same type and port. A HID
// charger that restarts comes back under another port name and is still the same one.
bool SameCharger(const SDeviceEntry& a, const SDeviceEntry& b);

// The row a record of the enumeration makes: a charger's, or with "Include COMx Port" ticked a
// plain serial port's; nothing for a plain port otherwise. The command line takes every record
// this way, the table only its first 32.
std::optional<SDeviceEntry> DeviceEntryFor(const SSerInfo& record, bool comPortsTicked);

// The list box's line for the row `record` made: "Type: <type>, S/N:<serial>" for a charger, the
// friendly name for a plain port.
std::string DeviceLineFor(const SSerInfo& record, const SDeviceEntry& row);

// Row rules, exposed for tests and the command line.
std::string PortNameFromFriendly(const std::string& friendly); // "Serial (A) (COM4)" -> "A"
std::string SerialFromPath(const std::string& path);           // field 2 split at "#"

} // namespace crenovix

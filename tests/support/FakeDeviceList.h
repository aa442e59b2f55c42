// Fakes around RefreshDeviceList: a device list view that keeps its lines, selection and the
// Update button's state and logs every call in order, and an enumerator that hands out a
// scripted list or raises a scripted enumeration error.
#pragma once

#include "device/DeviceTable.h"
#include "device/SerialEnumeration.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace crenovix::testsupport {

class CFakeDeviceListView final : public IDeviceListView {
public:
    // Read i of the check box answers boxScript[i], the last entry answering every later read;
    // an empty script answers boxTicked.
    bool boxTicked = false;
    std::vector<bool> boxScript;
    int boxReads = 0;

    std::vector<std::string> lines;
    int selected = -1;
    std::optional<bool> updateEnabled; // nothing: never set
    std::vector<std::string> log;      // "clear", "insert 0 text", "select 0", "update on"
    int insertsOutOfRange = 0;

    bool IsComPortBoxTicked() override {
        const std::size_t read = static_cast<std::size_t>(boxReads++);
        return boxScript.empty() ? boxTicked : boxScript[std::min(read, boxScript.size() - 1)];
    }
    void ClearLines() override {
        log.push_back("clear");
        lines.clear();
    }
    void InsertLine(int index, const std::string& text) override {
        log.push_back("insert " + std::to_string(index) + " " + text);
        if (index < 0 || static_cast<std::size_t>(index) > lines.size()) {
            ++insertsOutOfRange;
            lines.push_back(text);
            return;
        }
        lines.insert(lines.begin() + index, text);
    }
    void SelectLine(int index) override {
        log.push_back("select " + std::to_string(index));
        selected = index;
    }
    void SetUpdateEnabled(bool enabled) override {
        log.push_back(enabled ? "update on" : "update off");
        updateEnabled = enabled;
    }
};

class CFakeDeviceEnumerator final : public IDeviceEnumerator {
public:
    SerInfoList result;
    std::optional<std::string> error; // raised after `result` was written into the list
    std::vector<bool> probeArgs;

    void ListDevices(SerInfoList& list, bool bProbePorts) override {
        probeArgs.push_back(bProbePorts);
        list = result;
        if (error) {
            throw CEnumerationError(*error);
        }
    }
};

} // namespace crenovix::testsupport

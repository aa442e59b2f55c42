// The device list as the command line keeps it: the lines RefreshDeviceList would put into the
// window's list box, its selection and the Update button's state.
#pragma once

#include "device/DeviceTable.h"

#include <algorithm>
#include <string>
#include <vector>

namespace crenovix::cli {

class CConsoleListView : public IDeviceListView {
public:
    bool comPortsTicked = false; // "Include COMx Port"
    std::vector<std::string> lines;
    int selection = -1;
    bool updateEnabled = false;

    bool IsComPortBoxTicked() override { return comPortsTicked; }
    void ClearLines() override { lines.clear(); }
    void InsertLine(int index, const std::string& text) override {
        const auto at =
            std::clamp<std::ptrdiff_t>(index, 0, static_cast<std::ptrdiff_t>(lines.size()));
        lines.insert(lines.begin() + at, text);
    }
    void SelectLine(int index) override { selection = index; }
    void SetUpdateEnabled(bool enabled) override { updateEnabled = enabled; }
};

} // namespace crenovix::cli

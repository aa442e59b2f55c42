// The controls of a window built from a dialog template, addressed by their ids: what every
// window's logic asks of its toolkit's window (IMainWindowView, IStationView). A virtual base, so
// that each toolkit implements it once for all its windows (qt::CTemplateControls,
// win32::CDialogWindow) beside the window's own view.
#pragma once

#include <string>

namespace crenovix {

class IDialogControls {
public:
    virtual ~IDialogControls() = default;

    virtual void SetVisible(int id, bool visible) = 0;
    virtual void SetEnabled(int id, bool enabled) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::string GetText(int id) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;
};

} // namespace crenovix

// The native dialogs, built in memory from the tables of app/DialogTemplate.h that the Qt front
// end builds its widgets from: one description of each window. Each kind of control becomes the
// Windows class and style a resource script would give it; the window's own style (centred or
// not, an application window or not) and the dialog font are chosen here per window.
#pragma once

#include <windows.h>

#include <vector>

namespace crenovix::win32 {

enum class EDialog { Main, Download, Notice, Station };

// The window's DLGTEMPLATEEX with its items, as CreateDialogIndirectParam and
// DialogBoxIndirectParam take it (see AsTemplate). Built anew per call; the caller keeps it while
// the window is being created.
std::vector<WORD> BuildDialogTemplate(EDialog dialog);

inline const DLGTEMPLATE* AsTemplate(const std::vector<WORD>& words) {
    return reinterpret_cast<const DLGTEMPLATE*>(words.data());
}

} // namespace crenovix::win32

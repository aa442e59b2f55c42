// Whether the command line talks to a terminal that can redraw lines in place: standard output
// and standard error both terminals, and (on Windows) a console that takes the cursor controls.
// One source file per platform.
#pragma once

namespace crenovix::cli {

bool TerminalRedrawsInPlace();

} // namespace crenovix::cli

// Whether standard error is a terminal, so progress can be redrawn in place. One source file per
// platform.
#pragma once

namespace crenovix::cli {

bool StderrIsTerminal();

} // namespace crenovix::cli

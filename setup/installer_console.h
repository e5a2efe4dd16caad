#pragma once
// The hooks' message box during a package installation: asked on the
// terminal the installation runs in. Without one (or in a non-interactive
// installation) nobody can answer, and the box gives its safe answer.
#include "platform/ports.h"

#include <cstdio>

namespace setup {

// Shows caption and text on `out` and reads one line from `in`: "y", "yes"
// or "ok" picks the first button (OK, Yes, Retry); anything else, and the
// end of the input, picks the safe one.
int AskOnTerminal(FILE* in, FILE* out, const QString& text, const QString& caption, uint32_t style);

// The port for this process: AskOnTerminal on its terminal, or none.
plat::MessageBoxPort InstallerMessageBoxPort();

} // namespace setup

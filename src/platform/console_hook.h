// A test hook of the Windows platform layer. While a writer is set, both
// standard streams count as consoles, and the wide text that would go to
// WriteConsoleW goes to the writer instead. A null writer restores the
// streams as they are.
#pragma once

#include "platform/platform.h"

#include <cstddef>

namespace zorov {

typedef void (*WideConsoleWriter)(ConsoleStream stream, const wchar_t *text, size_t length);

void set_wide_console_writer(WideConsoleWriter writer);

} // namespace zorov

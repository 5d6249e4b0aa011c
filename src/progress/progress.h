// The progress display: the spinning bar and the progress window.
#pragma once

#include "platform/native.h"

#include <cstdint>

namespace zorov {

// Whether the file being copied has a progress window.
enum ProgressWindow { window_undecided = -1, window_none = 0, window_open = 1 };

// The next character of the spinning bar; it goes on where the last file
// left it.
void show_spinner();
// Harmless when no window is open.
void close_progress_window();

// The window rule for each figure shown. The first figure that may decide
// opens a window when it is at most 2, for the copy is then expected to be
// long, and otherwise decides against one; an open window's bar follows
// every figure.
void follow_in_window(ProgressWindow *window, int64_t percent, const nchar *caption,
                      bool may_decide);

// The display as at the start of the program: the spinner at its first
// character, no window.
void reset_progress();

} // namespace zorov

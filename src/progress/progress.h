// The progress display: the spinning bar and the progress window.
#pragma once

#include "platform/native.h"

#include <cstdint>

namespace zorov {

// -1 undecided for the current file, 0 no window, 1 the window is open.
extern int32_t progress_window_state;
// Spinner characters drawn in the whole run.
extern uint32_t spinner_position;

void show_spinner();
// 1 when the window opened with `caption`, else 0.
int open_progress_window(const nchar *caption);
// Moves the bar of an open window.
void set_progress_position(int percent);
// Harmless when no window is open.
void close_progress_window();

} // namespace zorov

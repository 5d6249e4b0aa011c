// The progress display: the spinning bar on the console, and the progress
// window with the rule that opens one for a long copy. The platform layer
// draws the window; this file keeps the calls to it sound.
#include "progress/progress.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

namespace zorov {

namespace {

const char spinner_characters[] = "|/-\\";

// Spinner characters drawn in the whole run.
uint32_t spinner_position = 0;

// Whether the platform holds an open window; the run driver's final close
// and the copy's own close may both arrive, and only one may reach it.
bool platform_window_open = false;

// 1 when the window opened with `caption`, else 0.
int open_progress_window(const nchar *caption) {
  // A window belongs to one file; one left over would never be closed.
  close_progress_window();
  nstring text = caption ? caption : NT("");
  if (!fits_path_buffer(text))
    text.resize(size_t(kPathMax));
  platform_window_open = progress_window_open(text.c_str()) == 1;
  return platform_window_open ? 1 : 0;
}

// Moves the bar of an open window.
void set_progress_position(int percent) {
  if (!platform_window_open)
    return;
  // An append can pass 100 percent; the bar stops at its end.
  if (percent > 100)
    percent = 100;
  if (percent < 0)
    percent = 0;
  progress_window_position(percent);
}

} // namespace

void show_spinner() {
  if (options.quiet)
    return;
  print_output("%c\b", spinner_characters[spinner_position % 4]);
  ++spinner_position;
}

void close_progress_window() {
  if (!platform_window_open)
    return;
  platform_window_open = false;
  progress_window_close();
}

void follow_in_window(ProgressWindow *window, int64_t percent, const nchar *caption,
                      bool may_decide) {
  if (may_decide && *window == window_undecided)
    *window = percent <= 2 && open_progress_window(caption) == 1 ? window_open : window_none;
  if (*window == window_open)
    set_progress_position(int(percent));
}

void reset_progress() {
  spinner_position = 0;
  platform_window_open = false;
}

} // namespace zorov

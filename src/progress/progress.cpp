// The progress display: the spinning bar on the console and the progress
// window, whose drawing belongs to the platform layer. The copy paths decide
// when a window opens; this file keeps the calls to the platform sound.
#include "progress/progress.h"

#include "cli/messages.h"
#include "cli/options.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

namespace zorov {

int32_t progress_window_state = -1;
uint32_t spinner_position = 0;

namespace {

const char spinner_characters[] = "|/-\\";

// Whether the platform holds an open window; the run driver's final close
// and the copy's own close may both arrive, and only one may reach it.
bool window_open = false;

} // namespace

void show_spinner() {
  if (options.quiet)
    return;
  print_output("%c\b", spinner_characters[spinner_position % 4]);
  ++spinner_position;
}

int open_progress_window(const nchar *caption) {
  // A window belongs to one file; one left over would never be closed.
  close_progress_window();
  nstring text = caption ? caption : NT("");
  if (!fits_path_buffer(text))
    text.resize(size_t(kPathMax));
  window_open = progress_window_open(text.c_str()) == 1;
  return window_open ? 1 : 0;
}

void set_progress_position(int percent) {
  if (!window_open)
    return;
  // An append can pass 100 percent; the bar stops at its end.
  if (percent > 100)
    percent = 100;
  if (percent < 0)
    percent = 0;
  progress_window_position(percent);
}

void close_progress_window() {
  if (!window_open)
    return;
  window_open = false;
  progress_window_close();
}

} // namespace zorov

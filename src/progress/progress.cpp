// Stand-in until the progress display is built.
#include "progress/progress.h"

namespace zorov {

int32_t progress_window_state = -1;
uint32_t spinner_position = 0;

void show_spinner() {}
int open_progress_window(const nchar *caption) {
  (void)caption;
  return 0;
}
void set_progress_position(int percent) { (void)percent; }
void close_progress_window() {}

} // namespace zorov

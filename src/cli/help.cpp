// Stand-in until the help screen is built: ends the run with exit code 8.
#include "cli/help.h"

#include "cli/messages.h"
#include "platform/platform.h"

namespace zorov {

void show_help() {
  close_logs();
  exit_process(8);
}

} // namespace zorov

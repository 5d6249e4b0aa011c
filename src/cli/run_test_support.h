// Running the whole program against the in-memory platform in unit tests.
#pragma once

#include "cli/messages.h"
#include "cli/options.h"
#include "cli/run_driver.h"
#include "decide/file_job.h"
#include "engine/buffer_pool.h"
#include "engine/copy_entry.h"
#include "naming/exclusion.h"
#include "platform/platform.h"
#include "platform/platform_fake.h"
#include "progress/progress.h"

#include <string>
#include <vector>

namespace zorov {
namespace testing_support {

// Puts every run-wide record back to its state at program start.
inline void reset_run_state() {
  release_exclusion_list();
  options = CopyOptions();
  log_file = nullptr;
  copied_list = nullptr;
  target_list_file = nullptr;
  source_end = 0;
  target_cursor = 0;
  target_error = 0;
  last_result = 0;
  worst_result = 0;
  pool_ready = false;
  run_block_size = 65024;
  buffer_pool = BufferPool();
  identified_files = 0;
  identified_bytes = 0;
  reset_progress();
}

// Runs the program with `arguments` (the program's name first) and returns
// its exit code.
inline int run_program(std::vector<nstring> arguments) {
  reset_run_state();
  std::vector<nchar *> argv;
  for (nstring &argument : arguments)
    argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  try {
    run_copy(int(arguments.size()), argv.data());
  } catch (const fake::ProcessExit &exit) {
    return exit.code;
  }
  return -1;
}

// The absolute name the program makes of `name`.
inline nstring full_name(const nstring &name) {
  nstring full;
  resolve_full_path(name.c_str(), &full);
  return full;
}

// The same, as the console shows it.
inline std::string shown(const nstring &name) { return narrow_text(full_name(name).c_str()); }

} // namespace testing_support
} // namespace zorov

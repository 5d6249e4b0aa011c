// Running the whole program against the in-memory platform in unit tests.
#pragma once

#include "cli/base/error_level.h"
#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "cli/run_driver.h"
#include "decide/file_job.h"
#include "engine/buffer_pool.h"
#include "naming/exclusion.h"
#include "platform/platform.h"
#include "progress/progress.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/test_settings.h"

#include <string>
#include <vector>

namespace zorov {
namespace testing_support {

// The part of a run that file jobs and tree copies are handed, for the
// tests that call them directly.
struct JobRun {
  BufferPool pool;
  IdentifyCounters counters;
  JobContext job;
};

// Sets up the buffers as the run does, nothing counted yet, and a job that uses
// them for a target other than the last. A table of rows sets up again.
inline void start_job_run(JobRun *run) {
  free_buffer_pool(&run->pool);
  run->pool = allocate_buffer_pool(false);
  run->counters = IdentifyCounters();
  run->job.pool = &run->pool;
  run->job.last_target = false;
  run->job.counters = &run->counters;
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

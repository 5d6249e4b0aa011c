// The run driver: the program's entry and its loops over targets and
// sources, ending the process with the error level.
#pragma once

#include "decide/file_job.h"
#include "engine/buffer_pool.h"
#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// What the driver keeps over one run; run_copy owns it.
struct RunState {
  // The sources end before the argument `source_end`. `target_cursor` is
  // the next argument to take as a target; `target_list_file` a target
  // response file being read.
  int32_t source_end = 0;
  int32_t target_cursor = 0;
  TextStream *target_list_file = nullptr;
  // The results that form the error level: of the last source, of the last
  // target that failed, and the worst of every source of the run.
  int32_t last_result = 0;
  int32_t target_error = 0;
  int32_t worst_result = 0;
  // The copy buffers, set up before the first source of the first target
  // that can be served.
  bool pool_ready = false;
  BufferPool pool;
  IdentifyCounters counters;
  // The target being served.
  nstring target_path;
  bool target_is_directory = false;
};

// Runs the whole copy and ends the process with the error level.
[[noreturn]] void run_copy(int argc, nchar **argv);

// Index of the `-to` keyword among the operands, or 0 when there is none.
int find_target_keyword(int argc, nchar **argv, int first_operand);

// The next target name into `name`: true, or false when the targets are
// exhausted. A line of a target response file that is refused (a NUL
// byte, longer than a name) is the run's target_error 8.
bool next_target(RunState *run, nstring *name, int argc, nchar **argv);

// The exit code: the last source's result, else the last failed target's,
// else the worst source result of the run.
int32_t form_error_level(int32_t last, int32_t target, int32_t worst);

} // namespace zorov

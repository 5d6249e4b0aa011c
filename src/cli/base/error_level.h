// The error levels a run ends with, its exit codes: what a batch script
// reads to tell how the copy went. The results of sources and of tree
// copies take the same values.
#pragma once

#include <cstdint>

namespace zorov {

enum ErrorLevel : int32_t {
  // Every file copied or deliberately passed over.
  level_copied = 0,
  // A file failed to copy.
  level_failed = 1,
  // The run could not go on: help shown, a malformed -x, no memory, a
  // target (or a subdirectory of a tree) that could not be made.
  level_stopped = 8,
  // A target that must be a directory is not one.
  level_not_directory = 9,
  // Unknown or conflicting flags.
  level_bad_flags = 12,
};

// The exit code: the last source's result, else the last failed target's,
// else the worst source result of the run, so that a failed copy followed
// by a good one still ends the run with 1.
inline int32_t form_error_level(int32_t last, int32_t target, int32_t worst) {
  if (last != 0)
    return last;
  if (target != 0)
    return target;
  return worst;
}

} // namespace zorov

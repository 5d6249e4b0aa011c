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

} // namespace zorov

// The run settings record: every setting of the run, read by every part of
// the program, filled once by the flag parser.
#pragma once

#include "platform/native.h"

#include <cstdint>

namespace zorov {

// One pattern of the exclusion list; the patterns keep the order of the
// flag's text.
struct ExclusionNode {
  ExclusionNode *next;
  const nchar *pattern;
};

struct CopyOptions {
  int32_t existing_only = 0;
  int32_t newer_only = 0;
  int32_t changed_only = 0;
  int32_t compare_versions = 0;
  int32_t time_tolerance_seconds = 0;
  bool archive = false;
  int32_t generations = 5;
  bool overwrite_read_only = false;
  bool safe_overwrite = false;
  bool append = false;
  bool platform_copy = false;
  bool recurse = false;
  bool verbose_recursion = false;
  bool copy_hidden = false;
  bool set_hidden_attributes = false;
  bool identify_only = false;
  bool move = false;
  bool batch = false;
  bool quiet = false;
  bool timing = false;
  bool checkpoint = false;
  bool restart = false;
  bool report_buffers = false;
  uint32_t block_size = 65024;
  uint32_t block_size_arg = 0;
  bool pace_input = false;
  uint32_t pace_input_bytes = 0;
  int32_t pace_input_interval_ms = -1;
  bool pace_output = false;
  uint32_t pace_output_bytes = 0;
  int32_t pace_output_interval_ms = -1;
  bool log_up_to_date = true;
  ExclusionNode *exclusions = nullptr;
  int32_t first_operand = 1;
};

// The one record of the run, as every part of the program reads it: once
// the flags are parsed, nothing changes it. Only the flag parser writes it
// (cli/flags.h).
extern const CopyOptions &options;

} // namespace zorov

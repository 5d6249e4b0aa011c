// Copy status codes and the report of a failed copy.
#pragma once

#include "platform/native.h"

namespace zorov {

enum CopyStatusCode {
  copy_ok = 0,
  copy_source_failed = 1,
  copy_destination_failed = 2,
  copy_read_failed = 3,
  copy_write_failed = 4,
  copy_same_file = 6,
  copy_stream_archive = 7,
  copy_platform_failed = 8,
  // The copy was complete under its temporary name but could not take the
  // destination's place; the temporary file is kept and named in the report.
  copy_replace_failed = 9,
  // A move found its source changed after the copy had begun (another size
  // or time, or a copy of another length): the source is kept.
  copy_source_changed = 10,
  copy_unexamined = -1,
};

// Completes the file's line with the status text on the console and in the
// LogFile.
void report_copy_error(int status, const nchar *source, const nchar *destination);

} // namespace zorov

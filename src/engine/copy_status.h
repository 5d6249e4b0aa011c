// Copy statuses, the result of one copy, and the report of a failed copy.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

enum CopyStatus {
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
  // A move copied onto a device or pipe, which holds nothing afterwards:
  // the source is kept.
  copy_onto_special = 11,
  // A request that needs a file (a safe overwrite, generations, an append,
  // a restart) refused for a destination that is a device or pipe.
  copy_special_refused = 12,
  // A move found its destination other than the whole copy once the copy
  // was done: the source is kept.
  copy_destination_changed = 13,
  copy_unexamined = -1,
};

// What one copy came to. The error number is taken at the call that failed,
// so the cleanup that follows a failure can't change the reason reported.
struct CopyResult {
  CopyStatus status = copy_ok;
  int error_number = 0;
  // A replacement that failed keeps the whole copy under this name.
  nstring kept_temporary_name;
  // What copy_special_refused refused, as the report names it ("append to").
  const char *refused_request = nullptr;
  // How far into the source the copy got (with a restart, the part it
  // skipped included): a move deletes only a source copied to its end.
  int64_t source_end = 0;
};

// True when a failed file_status means only that nothing has the name; any
// other failure leaves it unknown whether a file is there.
bool name_is_missing(int error_number);

// A copy that ended with `status` for the reason `error_number`.
CopyResult copy_failure(CopyStatus status, int error_number);

// True when `status` is that of a device, a pipe or a socket: neither a
// regular file nor a directory.
bool is_special_file(const FileStatus &status);

// copy_special_refused for `request`.
CopyResult special_refusal(const char *request);

// Completes the file's line with the status text on the console and in the
// LogFile.
void report_copy_error(const CopyResult &result, const nchar *source, const nchar *destination);

} // namespace zorov

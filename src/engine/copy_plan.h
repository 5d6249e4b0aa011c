// The plan of one copy: what the copy entry prepares for whichever copy
// path moves the data, and the names and texts both paths make from it.
#pragma once

#include "engine/buffer_pool.h"
#include "engine/copy_status.h"
#include "platform/native.h"
#include "platform/platform.h"
#include "progress/progress.h"

#include <cstdint>

namespace zorov {

// What the copy entry prepared for one file.
struct CopyPlan {
  const BufferPool *pool = nullptr;   // the buffered copy's buffers
  const nchar *source = nullptr;      // full name, stream included
  const nchar *destination = nullptr; // the name the copy ends up under
  nstring working_name;               // the destination, or the temporary name
  nstring caption;                    // the progress window's title
  int64_t percent_base = 1;           // source size + 1
  int64_t last_percent = 0;           // the figure on the console
  ProgressWindow progress_window_state = window_undecided;
  bool destination_exists = false; // decides append mode
  // The destination is a device or pipe: written in place as it is, never
  // dated, marked or given attributes.
  bool special_destination = false;
  bool restart = false;
  uint32_t source_permissions = 0;    // a new output file gets these
  bool source_sparse = false;         // it takes less disk space than its length
  uint32_t temporary_permissions = 0; // and the temporary file these
  FileIdentity made;                  // the temporary file once it is made
  FileTime access_time;
  FileTime modification_time;
  int64_t source_end = 0; // how far into the source the copy got
  // The destination as it was before the copy: missing (size -1), or its
  // size and modification time.
  int64_t size_before = -1;
  FileTime modified_before;
};

// Names tried for a temporary file after the first one.
const int kTemporaryNameRetries = 64;

// The next temporary name of the plan's destination, with the clock read
// again; false when it would not fit a path buffer.
bool next_temporary_name(CopyPlan *plan);

// "Safe Copy Failed" on standard output and in the LogFile; status 2 for
// the reason `error_number`.
CopyResult report_no_temporary_name(int error_number);

// `destination` + "_" + the clock reading in decimal.
nstring temporary_name(const nchar *destination, uint32_t clock_reading);

// "Copying " + the source, shortened to fit a path buffer.
nstring copy_caption(const nchar *source);

} // namespace zorov

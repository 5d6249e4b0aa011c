// The buffered block copy, and the per-call plan that the copy entry sets up
// for whichever copy path moves the data.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// The copy was complete under its temporary name but could not take the
// destination's place; the temporary file is kept and named in the report.
const int copy_replace_failed = 9;

// The temporary file left behind by the last copy_replace_failed.
extern nstring kept_temporary_name;

// What the copy entry prepared for one file.
struct CopyPlan {
  const nchar *source = nullptr;      // full name, stream included
  const nchar *destination = nullptr; // the name the copy ends up under
  nstring working_name;               // the destination, or the temporary name
  nstring caption;                    // the progress window's title
  int64_t percent_base = 1;           // source size + 1
  int64_t last_percent = 0;           // the figure on the console
  bool destination_exists = false;    // decides append mode
  bool restart = false;
  uint32_t source_permissions = 0; // a new output file gets these
  FileTime access_time;
  FileTime modification_time;
};

// Moves the data of `plan->source` into `plan->working_name` through the
// buffer pool and finishes the copy; returns a CopyStatus.
int block_copy(CopyPlan *plan);

// True when the two names are the same name: byte for byte on POSIX, with
// the letters a to z taken as capitals on Windows.
bool same_file_name(const nchar *first, const nchar *second, PathStyle style);

// `destination` + "_" + the clock reading in decimal.
nstring temporary_name(const nchar *destination, uint32_t clock_reading);

// "Copying " + the source, shortened to fit a path buffer.
nstring copy_caption(const nchar *source);

} // namespace zorov

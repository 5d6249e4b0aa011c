// The buffered block copy, and what both copy paths do to finish a copy.
#pragma once

#include "engine/copy_plan.h"
#include "engine/copy_status.h"
#include "platform/native.h"
#include "platform/platform.h"
#include "progress/progress.h"

#include <cstdint>

namespace zorov {

// Moves the data of `plan->source` into `plan->working_name` through the
// buffer pool and finishes the copy.
CopyResult block_copy(CopyPlan *plan);

// Ends a copy made under a temporary name: after a good copy the temporary
// file takes the destination's place, after a failed one it is removed. A
// replacement that fails keeps the temporary file: copy_replace_failed
// with the reason and the name kept.
CopyResult replace_from_temporary(const CopyPlan *plan, const CopyResult &result);

// The throughput of a finished copy: the rate on the console unless quiet,
// the length, seconds and rate in the LogFile (no line end: the file's
// result text completes the line).
void report_throughput(int64_t length, int64_t elapsed);

// A copy that stopped part-way must never look newer than its source: its
// times go back to 1970-01-01, or for a source dated at or before then to
// a time older than the source's by more than the 2 seconds within which
// two files count as the same, so that a later run that copies only newer
// or changed files copies it again, while a restart still continues it.
// Where the file system can't keep that time, one second past 1970-01-01.
FileTime partial_copy_mark(FileTime source_modification);
void mark_partial_copy(const CopyPlan *plan, const nchar *name);

} // namespace zorov

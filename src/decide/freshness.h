// The freshness rules: newer by version or time, and sameness.
#pragma once

#include "decide/file_job.h"
#include "platform/native.h"

namespace zorov {

// Sets the stamp's version words (0 and 0 without version comparison).
void get_file_version(const nchar *name, FileStamp *stamp);

// 1 when the destination stays (skip), 0 when the source is copied. Uses
// the two run-wide stamps; writes its LogFile line.
int compare_freshness(const nchar *source, const nchar *destination);

// True when the two run-wide stamps describe the same file content.
bool files_are_same();

} // namespace zorov

// The freshness rules: newer by version or time, and sameness. They decide
// only; the per-file job writes what they found to the LogFile.
#pragma once

#include "decide/file_job.h"
#include "platform/native.h"

namespace zorov {

// What the newer rule found: whether the destination stays, and the text
// that explains it after the file's pair in the LogFile.
struct FreshnessVerdict {
  bool skip;
  const char *log_text;
  // A newer version is never kept silently: its line is written even when
  // lines about up-to-date files are not.
  bool always_logged;
};

// Sets the stamp's version words (0 and 0 without version comparison).
void get_file_version(const nchar *name, FileStamp *stamp);

// The newer rule over the two files' stamps, versions first when they are
// compared, then the modification times.
FreshnessVerdict compare_freshness(const FileStamp &source, const FileStamp &destination);

// True when the two stamps describe the same file content.
bool files_are_same(const FileStamp &source, const FileStamp &destination);

} // namespace zorov

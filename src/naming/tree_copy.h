// Copying the files of a directory, and with recursion its whole tree.
#pragma once

#include "decide/file_job.h"
#include "platform/native.h"

namespace zorov {

// 0 all copied or skipped, 1 some file failed, 8 a subdirectory could not
// be created; the largest wins.
int copy_tree(const JobContext &job, const nstring &source_dir, const nstring &destination_dir);

} // namespace zorov

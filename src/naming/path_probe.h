// Classifying a path and creating a directory with its missing parents.
#pragma once

#include "platform/native.h"

namespace zorov {

// 1 a directory, -1 exists but is not a directory, 0 missing.
int probe_path(const nchar *path);

// Creates `path` and every missing parent. Removes one trailing separator
// from `path` in place. 0 when the final directory was created, 1 when it
// exists all the same (another process made it meanwhile), else -1 with
// errno telling why.
int make_directory_path(nstring *path);

} // namespace zorov

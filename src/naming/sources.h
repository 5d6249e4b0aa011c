// Source enumeration: plain names, wildcard patterns and response files.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

namespace zorov {

// True with the next source name in `name`; false when the operands before
// `source_end` are exhausted.
bool next_source(nstring *name, int source_end, nchar **argv, bool *wildcard_active,
                 int *source_cursor, TextStream **source_list_file);

} // namespace zorov

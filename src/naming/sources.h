// Source enumeration: plain names, wildcard patterns and response files.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

namespace zorov {

// True with the next source name in `name`; false when the operands before
// `source_end` are exhausted.
bool next_source(nstring *name, int source_end, nchar **argv, bool *wildcard_active,
                 int *source_cursor, TextStream **source_list_file);

// One line of a response file into `line`, its line feed removed: 1, or 0
// at the end of the file (a line longer than a path buffer comes in pieces).
// A line holding a NUL byte would name something other than what it says:
// it is refused whole with a message naming the response file, and the
// result is -1.
int read_response_line(TextStream *list, const nchar *list_name, nstring *line);

} // namespace zorov

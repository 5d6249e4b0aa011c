// Source enumeration: plain names, wildcard patterns and response files.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// A wildcard operand's expansion: a pattern is expanded to its end before
// the next operand is taken.
struct WildcardScan {
  DirectorySearch *search = nullptr;
  nstring drive;
  nstring directory; // up to and including its last separator, or empty
  nstring result;    // the last match, or empty when the matches ran out
};

// Where the enumeration of the source operands stands.
struct SourceCursor {
  int next = 0;                 // the next operand to take
  bool wildcard_active = false; // a wildcard operand is being expanded
  WildcardScan scan;
  TextStream *list_file = nullptr; // a response file is being read
  // 1 once something named as a source could not be taken (refused, or in
  // a directory that could not be read): the run must not end as if every
  // source had been copied.
  int32_t result = 0;
};

// True with the next source name in `name`; false when the operands before
// `source_end` are exhausted.
bool next_source(nstring *name, int source_end, nchar **argv, SourceCursor *cursor);

// One line of a response file into `line`, its line feed removed: 1, or 0
// at the end of the file. A line that would name something other than what
// it says (one holding a NUL byte, one longer than a name, one that is no
// text of the file's encoding) is refused whole with a message naming the
// response file, and the result is -1; so is a failed read, which ends the
// list (its next result is 0).
int read_response_line(TextStream *list, const nchar *list_name, nstring *line);

} // namespace zorov

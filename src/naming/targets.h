// Target enumeration: the operands after the sources, or after the `-to`
// keyword, each a name or the response file of `@name`.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// Where the enumeration of the targets stands.
struct TargetCursor {
  int32_t next = 0;                // the next argument to take as a target
  TextStream *list_file = nullptr; // a target response file being read
  // The error level of the last target that failed: a refused line of a
  // target list (a NUL byte, longer than a name) or a failed read of one is
  // 8; the driver sets it for targets it can't use.
  int32_t error = 0;
};

// Index of the `-to` keyword among the operands, or 0 when there is none:
// it needs a source before it and a target after it.
int find_target_keyword(int argc, nchar **argv, int first_operand);

// The next target name into `name`: true, or false when the targets are
// exhausted.
bool next_target(nstring *name, int argc, nchar **argv, TargetCursor *cursor);

} // namespace zorov

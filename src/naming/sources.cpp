// Stand-in until source enumeration is built: every operand is a plain name.
#include "naming/sources.h"

namespace zorov {

bool next_source(nstring *name, int source_end, nchar **argv, bool *wildcard_active,
                 int *source_cursor, TextStream **source_list_file) {
  (void)wildcard_active;
  (void)source_list_file;
  if (*source_cursor >= source_end)
    return false;
  *name = argv[*source_cursor];
  *source_cursor += 1;
  return true;
}

} // namespace zorov

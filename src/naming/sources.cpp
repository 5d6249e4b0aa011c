// Stand-in until source enumeration is built: every operand is a plain name.
#include "naming/sources.h"

#include <cstring>

namespace zorov {

bool next_source(nchar *buffer, int source_end, nchar **argv, bool *wildcard_active,
                 int *source_cursor, TextStream **source_list_file) {
  (void)wildcard_active;
  (void)source_list_file;
  if (*source_cursor >= source_end)
    return false;
  nstring name = argv[*source_cursor];
  *source_cursor += 1;
  size_t length = name.size() < size_t(kPathMax) ? name.size() : size_t(kPathMax);
  name.copy(buffer, length);
  buffer[length] = 0;
  return true;
}

} // namespace zorov

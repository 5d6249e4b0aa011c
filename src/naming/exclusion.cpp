// Stand-in until exclusion patterns are built: nothing is excluded.
#include "naming/exclusion.h"

namespace zorov {

nchar *translate_chars(nchar *text, const nchar *from_set, const nchar *to_set) {
  (void)from_set;
  (void)to_set;
  return text;
}

bool wildcard_match(const nchar *text, const nchar *pattern) {
  (void)text;
  (void)pattern;
  return false;
}

void build_exclusion_list(const nchar *text) { (void)text; }

bool is_excluded(const nchar *path) {
  (void)path;
  return false;
}

} // namespace zorov

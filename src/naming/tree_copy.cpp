// Stand-in until the tree copy is built: a directory source copies nothing.
#include "naming/tree_copy.h"

namespace zorov {

int copy_tree(const nstring &source_dir, const nstring &destination_dir, int argument_count) {
  (void)source_dir;
  (void)destination_dir;
  (void)argument_count;
  return 0;
}

} // namespace zorov

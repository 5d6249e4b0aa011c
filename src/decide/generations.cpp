// Stand-in until archive generations are built: nothing is renamed.
#include "decide/generations.h"

namespace zorov {

void rotate_generations(nstring *destination, const nstring &source) {
  (void)destination;
  (void)source;
}

} // namespace zorov

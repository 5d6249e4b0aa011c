// Archive generations: keeps a replaced destination as a numbered backup.
#pragma once

#include "platform/native.h"

namespace zorov {

// Shifts the generations of `destination` and renames it into the newest;
// may redirect the copy to another name by changing `destination`. 0 to go
// on with the copy; 1 when the archive was refused and reported, so the
// destination must not be replaced.
int rotate_generations(nstring *destination, const nstring &source);

} // namespace zorov

// How a file of the program's own takes a name's place: the rule is kept
// here once, for the real layers and the in-memory one of the unit tests
// alike; each layer gives only the step that makes one fresh name and
// renames it, the one step that differs between the systems.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

namespace zorov {

// Makes `fresh` a new file as create_new_file makes one, renames that very
// file over `name`, and returns a text stream on it, open for writing. Null
// with errno otherwise: EEXIST when `fresh` is taken, and then nothing was
// made; after any other failure nothing made is left behind. Each layer has
// its own.
TextStream *create_new_text_over(const nchar *fresh, const nchar *name);

} // namespace zorov

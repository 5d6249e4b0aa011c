// The manual's text, in the parts a reader meets it: the one source of the
// help screen and of the manual page the build makes, so the two can never
// differ.
#pragma once

#include <cstddef>

namespace zorov {

struct TextLines {
  const char *const *lines;
  size_t count;
};

struct ManualText {
  const char *banner; // the program, its version and its date
  const char *notice; // the no-warranty notice
  TextLines usage;
  TextLines description;
  TextLines flag_summary; // the "Flags:" heading and the short synopsis
  TextLines flags;        // an entry per flag: the spelling at the margin, then its text
  TextLines closing;
  TextLines returns; // the error level
};

// The parts in the order the help screen writes them.
const ManualText &manual_text();

} // namespace zorov

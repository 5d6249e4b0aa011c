// The flag parser: reads the leading flags into the run settings record and
// opens the LogFile and the CopiedList.
#pragma once

#include "cli/base/options.h"
#include "platform/native.h"

#include <cstdint>
#include <string>

namespace zorov {

// Fills `options` (with `first_operand`), the logs and the exclusion list,
// or ends the process: 12 for unknown or conflicting flags, 8 for a
// malformed exclusion flag.
void parse_flags(int argc, nchar **argv);

// Every spelling of a flag the parser takes, as typed before a number or a
// name where one follows (-g, -k, -i, -o, -l, -L), separated by blanks.
std::string flag_spellings();

// The run's settings record to fill: the flag parser's alone (the tests'
// settings helper sets up a run through it too).
CopyOptions &options_to_fill();

} // namespace zorov

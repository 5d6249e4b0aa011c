// The run driver: the program's entry and its loops over targets and
// sources, ending the process with the error level.
#pragma once

#include "platform/native.h"

namespace zorov {

// Runs the whole copy and ends the process with the error level.
[[noreturn]] void run_copy(int argc, nchar **argv);

} // namespace zorov

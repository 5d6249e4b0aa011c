// The help screen: writes the manual to the help file, shows it and ends the
// run with exit code 8.
#pragma once

namespace zorov {

[[noreturn]] void show_help();

} // namespace zorov

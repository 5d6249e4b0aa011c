// Stand-in until the flag parser is built: flags are passed over.
#include "cli/flags.h"

#include "cli/options.h"

#include <cwchar>

namespace zorov {

void parse_flags(int argc, nchar **argv) {
  int index = 1;
  while (index < argc && argv[index][0] == NT('-'))
    ++index;
  options.first_operand = index;
}

int32_t read_number(const nchar *text) {
  (void)text;
  return 0;
}

} // namespace zorov

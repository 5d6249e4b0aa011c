#include "cli/options.h"

namespace zorov {

CopyOptions options;

} // namespace zorov

#include "cli/base/options.h"

namespace zorov {

namespace {

CopyOptions run_options;

} // namespace

const CopyOptions &options = run_options;

CopyOptions &options_to_fill() { return run_options; }

} // namespace zorov

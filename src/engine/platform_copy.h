// The copy through the platform's own whole-file copy service, which carries
// every stream of a file.
#pragma once

#include "engine/block_copy.h"

namespace zorov {

// Copies `plan->source` to `plan->working_name` with the platform's copy
// service, replacing the destination from a temporary name as the buffered
// copy does.
CopyResult platform_stream_copy(CopyPlan *plan);

} // namespace zorov

// Stand-in until the platform copy service is wired in: the buffered copy
// moves the data.
#include "engine/platform_copy.h"

namespace zorov {

int platform_stream_copy(CopyPlan *plan) { return block_copy(plan); }

} // namespace zorov

// Stand-in until the error report is built.
#include "engine/copy_status.h"

#include "cli/messages.h"

namespace zorov {

void report_copy_error(int status, const nchar *source, const nchar *destination) {
  report_output("%ls ===> %ls : Error %d\n", source, destination, status);
}

} // namespace zorov

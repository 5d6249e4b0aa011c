#include "engine/copy_plan.h"

#include "cli/base/messages.h"
#include "platform/path_syntax.h"

#include <cerrno>

namespace zorov {

CopyResult report_no_temporary_name(int error_number) {
  print_output("Safe Copy Failed.  Unable to create temporary output file\n");
  print_log("Safe Copy Failed.  Unable to create temporary output file\n");
  return copy_failure(copy_destination_failed, error_number);
}

bool next_temporary_name(CopyPlan *plan) {
  plan->working_name = temporary_name(plan->destination, milliseconds_now());
  return fits_path_buffer(plan->working_name);
}

nstring temporary_name(const nchar *destination, uint32_t clock_reading) {
  nchar digits[16];
  int count = 0;
  do {
    digits[count++] = nchar(NT('0') + clock_reading % 10);
    clock_reading /= 10;
  } while (clock_reading != 0);
  nstring added(1, NT('_'));
  while (count > 0)
    added.push_back(digits[--count]);
  // A destination whose name leaves no room for the digits gets them after
  // a shortened name, as a copy that works without them must work with
  // them.
  PathParts<nchar> parts = split_path(nstring(destination), native_path_style);
  return fitted_name(parts.drive + parts.directory, parts.name + parts.extension, added, nstring(),
                     native_path_style);
}

nstring copy_caption(const nchar *source) {
  nstring caption = NT("Copying ");
  caption += source;
  if (fits_path_buffer(caption))
    return caption;
  // Keep the head and mark the cut; never end on half a character.
  size_t keep = size_t(kPathMax) - 3;
  while (keep > 0 && is_continuation_unit(caption[keep]))
    --keep;
  caption.resize(keep);
  caption += NT("...");
  return caption;
}

} // namespace zorov

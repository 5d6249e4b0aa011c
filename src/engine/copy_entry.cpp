// The entry of the copy engine: the preparation both copy paths share (the
// same-file check, the size percentages are measured against, the first
// figure, a writable destination, the temporary name of safe overwrite) and
// the choice of path.
#include "engine/copy_entry.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "engine/block_copy.h"
#include "engine/copy_plan.h"
#include "engine/platform_copy.h"
#include "engine/same_file.h"
#include "platform/path_syntax.h"
#include "progress/progress.h"

#include <cerrno>
#include <string>
#include <type_traits>

namespace zorov {

namespace {

bool source_is_stream(const nchar *source) {
  nstring name = source;
  return stream_holder(name, native_path_style) != name;
}

// The source's size (for a stream, the stream's length) and the permission
// bits a new copy gets; copy_source_failed when it can't be examined.
CopyResult measure_source(const nchar *source, bool stream, const KnownStatus &known, int64_t *size,
                          FileStatus *status) {
  if (known.known && known.exists && !stream) {
    *status = known.status;
    *size = status->size;
    return CopyResult();
  }
  int64_t length = 0;
  if (stream) {
    length = stream_length(source);
    if (length < 0)
      return copy_failure(copy_source_failed, errno);
  }
  if (file_status(stream_holder(nstring(source), native_path_style).c_str(), status) != 0)
    return copy_failure(copy_source_failed, errno);
  *size = stream ? length : status->size;
  return CopyResult();
}

// The source's part of the plan: the size figures are measured against,
// the bits a new copy gets, whether it has holes. `status` gets its status.
CopyResult plan_source(CopyPlan *plan, bool stream, const KnownStatus &known, FileStatus *status) {
  int64_t size = 0;
  CopyResult examined = measure_source(plan->source, stream, known, &size, status);
  if (examined.status != copy_ok)
    return examined;
  plan->source_permissions = status->permissions;
  plan->source_sparse = status->allocated >= 0 && status->allocated < size && !stream;
  plan->percent_base = size + 1;
  return examined;
}

// Whether the destination exists, and its status, asked for unless the
// caller knows them. A destination that can't be examined may exist: it is
// never truncated in place of being appended to, replaced safely or made
// writable.
CopyResult look_up_destination(const nchar *destination, const KnownStatus &known, bool *exists,
                               FileStatus *status) {
  *status = known.status;
  *exists = known.known ? known.exists : file_status(destination, status) == 0;
  if (!known.known && !*exists && !name_is_missing(errno))
    return copy_failure(copy_destination_failed, errno);
  return CopyResult();
}

// Steps for an existing destination: make it writable under
// overwrite_read_only, and pick the temporary name of safe overwrite. A
// status other than copy_ok ends the copy.
CopyResult prepare_existing_destination(CopyPlan *plan, const FileStatus &status,
                                        uint32_t clock_reading) {
  plan->size_before = status.size;
  plan->modified_before = status.modification_time;
  plan->destination_exists = true;
  bool read_only = status.read_only;
  if (read_only && options.overwrite_read_only) {
    read_only = make_writable(plan->destination) != 0;
    plan->destination_exists = !read_only;
  }
  if (!options.safe_overwrite || plan->restart)
    return CopyResult();
  if (read_only) {
    // The copy could never take the place of a file that stays read-only;
    // refuse it now, as the plain copy's open would, instead of leaving a
    // useless temporary file behind.
    print_error("%ls: Unable to Open output file", plan->destination);
    print_error_text(EACCES);
    return copy_failure(copy_destination_failed, EACCES);
  }
  // The name is only a first candidate: the copy path makes the file, and
  // moves on to the next name when this one is taken.
  plan->working_name = temporary_name(plan->destination, clock_reading);
  if (!fits_path_buffer(plan->working_name))
    return report_no_temporary_name(ENAMETOOLONG);
  // The temporary file is never readable by more users than the file it
  // becomes: the destination's bits, as a plain overwrite keeps them, or the
  // source's, which -h+ gives the written file.
  uint32_t final_bits =
      options.set_hidden_attributes ? plan->source_permissions : status.permissions;
  plan->temporary_permissions = (final_bits & 0777) | 0200u;
  return CopyResult();
}

// What a destination that is a device or pipe can't be given: a file put
// in its place, an append or a restart (it has no end to go on from).
// Null when the copy may go ahead.
const char *refused_on_special(bool restart) {
  if (options.safe_overwrite && !restart)
    return "safely overwrite";
  if (restart)
    return "restart a copy onto";
  if (options.append)
    return "append to";
  return nullptr;
}

} // namespace

CopyResult copy_file_data(const BufferPool &pool, const CopyRequest &request) {
  const nchar *source = request.source;
  const nchar *destination = request.destination;
  const bool restart = request.restart;
  uint32_t clock_reading = milliseconds_now();
  if (!fits_path_buffer(source))
    return copy_failure(copy_source_failed, ENAMETOOLONG);
  if (!fits_path_buffer(destination))
    return copy_failure(copy_destination_failed, ENAMETOOLONG);
  if (same_file_name(source, destination, native_path_style))
    return copy_failure(copy_same_file, 0);

  CopyPlan plan;
  plan.pool = &pool;
  plan.source = source;
  plan.destination = destination;
  plan.working_name = destination;
  plan.restart = restart;
  plan.access_time = request.access_time;
  plan.modification_time = request.modification_time;
  const bool stream = source_is_stream(source);
  FileStatus source_status, status;
  bool destination_exists = false;
  CopyResult result = plan_source(&plan, stream, request.known_source, &source_status);
  if (result.status == copy_ok)
    result =
        look_up_destination(destination, request.known_destination, &destination_exists, &status);
  if (result.status != copy_ok)
    return result;
  // The very file of the source under another name (a link, another
  // spelling), or a stream of it, is never opened for writing.
  if ((destination_exists && is_same_file(source, source_status, destination, status)) ||
      is_within_source_file(source, source_status, destination))
    return copy_failure(copy_same_file, 0);
  plan.special_destination = destination_exists && is_special_file(status);
  if (plan.special_destination) {
    const char *refused = refused_on_special(restart);
    if (refused)
      return special_refusal(refused);
  }
  if (!options.batch && !options.quiet)
    print_output(" %2I64d%c", int64_t(0), '%');
  if (destination_exists && !plan.special_destination) {
    result = prepare_existing_destination(&plan, status, clock_reading);
    if (result.status != copy_ok)
      return result;
  }
  plan.caption = copy_caption(source);
  // The platform copy would give a device or pipe the source's times and
  // permissions: only the plain copy writes one.
  bool platform_path = request.platform && !stream && !plan.special_destination;
  result = platform_path ? platform_stream_copy(&plan) : block_copy(&plan);
  result.source_end = plan.source_end;
  return result;
}

} // namespace zorov

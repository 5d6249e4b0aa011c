// The copy through the platform's own whole-file copy service. The service
// moves the data and carries the file's other streams, attributes and times;
// its progress reports drive the console figure and the progress window.
#include "engine/platform_copy.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "progress/progress.h"

#include <cerrno>

namespace zorov {

namespace {

// Called by the service on the program's thread while the data moves. The
// base is the size itself, so a finished copy shows 100.
void progress_callback(int64_t total, int64_t transferred, void *context) {
  CopyPlan *plan = static_cast<CopyPlan *>(context);
  int64_t percent = total == 0 ? 0 : transferred * 100 / total;
  if (!options.batch)
    show_spinner();
  if (transferred == 0 || options.quiet)
    return;
  print_output("\b\b\b%2I64d%c", percent, '%');
  follow_in_window(&plan->progress_window_state, percent, plan->caption.c_str(), true);
}

bool uses_temporary_name(const CopyPlan *plan) { return plan->working_name != plan->destination; }

// Whether the service left the destination other than it found it: made,
// cut or partly written.
bool destination_touched(const CopyPlan *plan) {
  FileStatus status;
  if (file_status(plan->destination, &status) != 0)
    return false;
  return plan->size_before < 0 || status.size != plan->size_before ||
         status.modification_time.seconds != plan->modified_before.seconds ||
         status.modification_time.nanoseconds != plan->modified_before.nanoseconds;
}

CopyResult report_service_failure(const CopyPlan *plan, int code) {
  std::string text = system_message(code);
  print_output("\n%ls ===> %ls : %s\n", plan->source, plan->working_name.c_str(), text.c_str());
  FileStatus status;
  if (uses_temporary_name(plan) && file_status(plan->working_name.c_str(), &status) == 0)
    remove_file(plan->working_name.c_str());
  if (!uses_temporary_name(plan) && destination_touched(plan))
    mark_partial_copy(plan, plan->destination);
  if (plan->progress_window_state == window_open)
    close_progress_window();
  return copy_failure(copy_platform_failed, code);
}

// Under a temporary name the service makes the file itself, exclusively,
// under the first name nobody has taken in any form. The service's result;
// -1 when no name was free.
int copy_to_new_name(CopyPlan *plan) {
  for (int attempt = 0;; ++attempt) {
    bool taken = false;
    // The name an interruption removes is the one being made.
    watch_output(plan->working_name.c_str(), -1, true, FileTime());
    int code = platform_copy_new_file(plan->source, plan->working_name.c_str(), progress_callback,
                                      plan, &plan->made, &taken);
    if (!taken)
      return code;
    if (attempt == kTemporaryNameRetries || !next_temporary_name(plan))
      return -1;
  }
}

} // namespace

CopyResult platform_stream_copy(CopyPlan *plan) {
  int64_t start_time = wall_seconds();
  if (!uses_temporary_name(plan))
    watch_output(plan->working_name.c_str(), -1, false, partial_copy_mark(plan->modification_time));
  int code = uses_temporary_name(plan)
                 ? copy_to_new_name(plan)
                 : platform_copy_file(plan->source, plan->working_name.c_str(), plan->restart,
                                      progress_callback, plan);
  if (code == -1) {
    end_output_watch();
    return report_no_temporary_name(EEXIST);
  }
  if (code != 0) {
    CopyResult failed = report_service_failure(plan, code);
    end_output_watch();
    return failed;
  }
  int64_t end_time = wall_seconds();
  FileStatus copied;
  CopyResult result;
  if (file_status(plan->working_name.c_str(), &copied) != 0)
    result = copy_failure(copy_unexamined, errno);
  bool examined = result.status == copy_ok;
  if (examined && options.timing)
    report_throughput(copied.size, end_time - start_time);
  plan->source_end = examined ? copied.size : 0;
  // A copy that can't be examined has failed like any other: its temporary
  // file goes, and the destination stays as it was.
  if (uses_temporary_name(plan))
    result = replace_from_temporary(plan, result);
  end_output_watch();
  if (plan->progress_window_state == window_open)
    close_progress_window();
  pause_milliseconds(0);
  return result;
}

} // namespace zorov

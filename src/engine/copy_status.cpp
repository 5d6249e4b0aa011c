// The report of a failed copy: the file's pair again, then the status text,
// on the console and in the LogFile.
#include "engine/copy_status.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"

#include <cerrno>
#include <string>

namespace zorov {

namespace {

// The runtime's errno texts are held in a buffer of this size.
const size_t kErrorTextCapacity = 1024;

std::string captured_error_text(int error_number) {
  std::string text = error_text(error_number);
  if (text.size() > kErrorTextCapacity - 1)
    text.resize(kErrorTextCapacity - 1);
  return text;
}

// A console text that differs from its LogFile twin.
void report_twins(const std::string &console, const std::string &log) {
  if (!options.quiet)
    print_output("%s", console.c_str());
  print_log("%s", log.c_str());
}

} // namespace

CopyResult copy_failure(CopyStatus status, int error_number) {
  CopyResult result;
  result.status = status;
  result.error_number = error_number;
  return result;
}

bool is_special_file(const FileStatus &status) {
  return !status.is_regular && !status.is_directory;
}

CopyResult special_refusal(const char *request) {
  CopyResult result = copy_failure(copy_special_refused, 0);
  result.refused_request = request;
  return result;
}

void report_copy_error(const CopyResult &result, const nchar *source, const nchar *destination) {
  std::string reason = captured_error_text(result.error_number);
  report_output("%ls ===> %ls", source, destination);
  switch (result.status) {
  case copy_source_failed:
    report_output(" : Unable to open input.  %s\n", reason.c_str());
    return;
  case copy_destination_failed:
    report_output(" : Unable to open output.  %s\n", reason.c_str());
    return;
  case copy_read_failed:
    report_output(" : Read error.  %s\n", reason.c_str());
    return;
  case copy_write_failed:
    report_twins(format_text(" : Write error.   %s\n", reason.c_str()),
                 format_text(" : Write error.  %s\n", reason.c_str()));
    return;
  case copy_same_file:
    report_twins(" : Source, Destination are same file.\n\n",
                 " : Source, Destination are same file.\n");
    return;
  case copy_stream_archive:
    report_twins(" : Failed.  Can not archive to a stream.\n\n",
                 " : Failed.  Can not archive to a stream.\n");
    return;
  case copy_source_changed:
    report_output(" : Source changed during the copy.  It is not deleted.\n");
    return;
  case copy_onto_special:
    report_output(" : Destination is a device or pipe.  The source is not deleted.\n");
    return;
  case copy_special_refused:
    report_output(" : Failed.  Can not %s a device or pipe.\n", result.refused_request);
    return;
  case copy_destination_changed:
    report_output(" : Destination changed during the copy.  The source is not deleted.\n");
    return;
  case copy_replace_failed:
    report_output(" : Unable to replace destination.  %s  The copy is kept as %ls\n",
                  reason.c_str(), result.kept_temporary_name.c_str());
    return;
  default:
    report_output(" : Error %d %d %s\n", int(result.status), result.error_number,
                  system_message(result.error_number).c_str());
  }
}

bool name_is_missing(int error_number) { return error_number == ENOENT || error_number == ENOTDIR; }

} // namespace zorov

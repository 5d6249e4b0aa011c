#include "decide/file_job.h"

#include "cli/messages.h"
#include "cli/options.h"
#include "cli/run_driver.h"
#include "decide/freshness.h"
#include "decide/generations.h"
#include "engine/copy_entry.h"
#include "engine/copy_status.h"
#include "engine/same_file.h"
#include "naming/exclusion.h"
#include "platform/path_syntax.h"

#include <cerrno>

namespace zorov {

FileStamp source_stamp;
FileStamp destination_stamp;
int32_t identified_files = 0;
int64_t identified_bytes = 0;

namespace {

// True when `name` designates a stream of a file; `base` is the file.
bool split_stream_name(const nstring &name, nstring *base) {
  size_t colon = stream_colon(name, native_path_style);
  *base = name.substr(0, colon);
  return colon != nstring::npos;
}

void fill_stamp(const FileStatus &status, FileStamp *stamp) {
  stamp->size = status.size;
  stamp->access_time = status.access_time.seconds;
  stamp->modification_time = status.modification_time.seconds;
  stamp->access_precise = status.access_time;
  stamp->modification_precise = status.modification_time;
}

// Fills the source stamp and `status`, asking for the status only when the
// caller doesn't know it. 0 when the source is a file to go on with;
// otherwise the job's result: 0 for a directory, 1 for a failure (already
// reported, except for a stream that can't be opened).
int examine_source(const nstring &source, const nstring &destination, const FileStatus *known,
                   FileStatus *status, bool *go_on) {
  *go_on = false;
  nstring base;
  source_stamp.is_stream = split_stream_name(source, &base);
  int64_t length = 0;
  if (source_stamp.is_stream) {
    length = stream_length(source.c_str());
    if (length < 0)
      return 1;
  }
  bool found = true;
  if (known && !source_stamp.is_stream)
    *status = *known;
  else
    found = file_status(base.c_str(), status) == 0;
  if (!found || !status->is_regular) {
    if (found && status->is_directory)
      return 0;
    // Devices and pipes are refused: reading them may never end.
    int error_number = found ? EINVAL : errno;
    report_copy_error(copy_failure(copy_source_failed, error_number), source.c_str(),
                      destination.c_str());
    return 1;
  }
  fill_stamp(*status, &source_stamp);
  get_file_version(base.c_str(), &source_stamp);
  if (source_stamp.is_stream)
    source_stamp.size = length;
  *go_on = true;
  return 0;
}

// False when the destination can't be examined: it may exist, and no rule
// (archive, newer, changed) can be applied to it.
bool examine_destination(const nstring &destination, nstring *base, FileStatus *status) {
  destination_stamp.is_stream = split_stream_name(destination, base);
  int64_t length = -1;
  if (destination_stamp.is_stream)
    length = stream_length(destination.c_str());
  destination_stamp.exists = file_status(base->c_str(), status) == 0;
  if (!destination_stamp.exists && !name_is_missing(errno))
    return false;
  if (destination_stamp.exists)
    fill_stamp(*status, &destination_stamp);
  if (destination_stamp.is_stream)
    destination_stamp.size = length;
  if (options.existing_only && destination_stamp.is_stream && length == -1)
    destination_stamp.exists = false;
  return true;
}

// The selection rules: true when the file is to be copied.
bool passes_selection(const nstring &source, const nstring &destination,
                      const nstring &destination_base, int destination_from_directory) {
  if (destination_from_directory == 1 && !destination_stamp.exists && options.existing_only) {
    if (options.log_up_to_date)
      print_log("%ls ===> %ls : Destination file does not exist.\n", source.c_str(),
                destination.c_str());
    return false;
  }
  if (is_excluded(source.c_str()))
    return false;
  if (options.newer_only && destination_stamp.exists) {
    get_file_version(destination_base.c_str(), &destination_stamp);
    if (compare_freshness(source.c_str(), destination.c_str()) == 1)
      return false;
  }
  if (options.changed_only && destination_stamp.exists) {
    get_file_version(destination_base.c_str(), &destination_stamp);
    if (files_are_same()) {
      if (options.log_up_to_date)
        print_log("%ls ===> %ls : Files are the same.\n", source.c_str(), destination.c_str());
      return false;
    }
  }
  return true;
}

void list_identified(const nstring &source, const nstring &destination) {
  // Each listed file is one line of the LogFile.
  print_log("%ls ===> %ls\n", source.c_str(), destination.c_str());
  if (options.quiet)
    return;
  print_output("%12I64d\t%ls\n", source_stamp.size, source.c_str());
  identified_files += 1;
  identified_bytes += source_stamp.size;
}

// A move deletes only what it copied: the source still has the size and
// time it had when the copy began, and the copy reached its end.
bool source_unchanged(const nstring &source, int64_t source_end) {
  nstring base;
  bool stream = split_stream_name(source, &base);
  FileStatus status;
  if (file_status(base.c_str(), &status) != 0)
    return false;
  int64_t size = stream ? stream_length(source.c_str()) : status.size;
  const FileTime &then = source_stamp.modification_precise;
  return size == source_stamp.size && source_end == source_stamp.size &&
         status.modification_time.seconds == then.seconds &&
         status.modification_time.nanoseconds == then.nanoseconds;
}

int copy_and_report(const nstring &source, const nstring &destination, int argument_count,
                    const KnownStatus &known_source, const KnownStatus &known_destination) {
  print_log("%ls ===> %ls", source.c_str(), destination.c_str());
  if (!options.quiet)
    print_output("%ls ===> %ls", source.c_str(), destination.c_str());
  CopyResult result =
      copy_file_data(source.c_str(), destination.c_str(), source_stamp.access_precise,
                     source_stamp.modification_precise, options.restart, options.platform_copy,
                     known_source, known_destination);
  bool deletes = options.move && target_cursor == argument_count;
  if (result.status == copy_ok && deletes && !source_unchanged(source, result.source_end))
    result = copy_failure(copy_source_changed, 0);
  if (result.status != copy_ok) {
    report_copy_error(result, source.c_str(), destination.c_str());
    return 1;
  }
  report_output(" : Ok\n");
  record_copied(source.c_str());
  if (deletes)
    delete_source(source.c_str());
  return 0;
}

} // namespace

int copy_one_file(const nstring &destination_name, const nstring &source,
                  int destination_from_directory, int argument_count,
                  const FileStatus *known_source) {
  nstring destination = destination_name;
  bool go_on = false;
  // The engine is handed the statuses taken here, for the names it is
  // given, while nothing has moved them.
  KnownStatus source_status, destination_status;
  int result = examine_source(source, destination, known_source, &source_status.status, &go_on);
  if (!go_on)
    return result;
  source_status.known = !source_stamp.is_stream;
  source_status.exists = true;
  nstring destination_base;
  if (!examine_destination(destination, &destination_base, &destination_status.status)) {
    report_copy_error(copy_failure(copy_destination_failed, errno), source.c_str(),
                      destination.c_str());
    return 1;
  }
  destination_status.known = !destination_stamp.is_stream;
  destination_status.exists = destination_stamp.exists;
  if (!passes_selection(source, destination, destination_base, destination_from_directory))
    return 0;
  // A move onto the file itself makes no generation: the copy entry then
  // refuses the pair as the same file, and nothing is renamed or deleted.
  bool move_onto_itself = options.move && destination_stamp.exists &&
                          names_same_file(source.c_str(), destination_base.c_str());
  if (destination_stamp.exists && options.archive && !move_onto_itself) {
    if (destination_stamp.is_stream) {
      report_copy_error(copy_failure(copy_stream_archive, 0), source.c_str(), destination.c_str());
      return 1;
    }
    if (rotate_generations(&destination, source) != 0)
      return 1;
    destination_status.known = false;
  }
  if (options.identify_only) {
    list_identified(source, destination);
    return 0;
  }
  return copy_and_report(source, destination, argument_count, source_status, destination_status);
}

void delete_source(const nchar *source) {
  if (remove_file(source) == 0) {
    print_log("%ls deleted.\n", source);
    return;
  }
  int error_number = errno;
  if (!options.quiet) {
    print_error("Unable to delete %ls\n", source);
    print_error_text(error_number);
  }
  print_log("Unable to delete %ls\n", source);
}

} // namespace zorov

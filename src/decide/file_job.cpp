#include "decide/file_job.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "decide/freshness.h"
#include "decide/generations.h"
#include "engine/copy_entry.h"
#include "engine/copy_status.h"
#include "engine/same_file.h"
#include "naming/exclusion.h"
#include "platform/path_syntax.h"

#include <cerrno>

namespace zorov {

namespace {

// What the job learns of its two files. The statuses are handed to the
// engine, for the names it is given, while nothing has moved them.
struct FilePair {
  FileStamp source_stamp;
  FileStamp destination_stamp;
  nstring destination_base; // the destination's file, without a stream suffix
  KnownStatus source_status;
  KnownStatus destination_status;
};

// What the source turned out to be.
enum SourceKind { source_file, source_directory, source_unusable };

// True when `name` designates a stream of a file; `base` is the file.
bool split_stream_name(const nstring &name, nstring *base) {
  *base = stream_holder(name, native_path_style);
  return base->size() != name.size();
}

void fill_stamp(const FileStatus &status, FileStamp *stamp) {
  stamp->size = status.size;
  stamp->access_time = status.access_time.seconds;
  stamp->modification_time = status.modification_time.seconds;
  stamp->access_precise = status.access_time;
  stamp->modification_precise = status.modification_time;
}

// Fills the source's stamp and status, asking for the status only when the
// caller doesn't know it. A failure is reported here, except for a stream
// that can't be opened.
SourceKind examine_source(const nstring &source, const nstring &destination,
                          const FileStatus *known, FilePair *pair) {
  nstring base;
  pair->source_stamp.is_stream = split_stream_name(source, &base);
  int64_t length = 0;
  if (pair->source_stamp.is_stream) {
    length = stream_length(source.c_str());
    if (length < 0)
      return source_unusable;
  }
  FileStatus &status = pair->source_status.status;
  bool found = true;
  if (known && !pair->source_stamp.is_stream)
    status = *known;
  else
    found = file_status(base.c_str(), &status) == 0;
  if (!found || !status.is_regular) {
    if (found && status.is_directory)
      return source_directory;
    // Devices and pipes are refused: reading them may never end.
    CopyResult refused = copy_failure(copy_source_failed, found ? EINVAL : errno);
    report_copy_error(refused, source.c_str(), destination.c_str());
    return source_unusable;
  }
  fill_stamp(status, &pair->source_stamp);
  get_file_version(base.c_str(), &pair->source_stamp);
  if (pair->source_stamp.is_stream)
    pair->source_stamp.size = length;
  pair->source_status.known = !pair->source_stamp.is_stream;
  pair->source_status.exists = true;
  return source_file;
}

// False, with the report, when the destination can't be examined: it may
// exist, and no rule (archive, newer, changed) can be applied to it.
bool examine_destination(const nstring &source, const nstring &destination, FilePair *pair) {
  FileStamp &stamp = pair->destination_stamp;
  stamp.is_stream = split_stream_name(destination, &pair->destination_base);
  int64_t length = -1;
  if (stamp.is_stream)
    length = stream_length(destination.c_str());
  FileStatus &status = pair->destination_status.status;
  stamp.exists = file_status(pair->destination_base.c_str(), &status) == 0;
  int error_number = stamp.exists ? 0 : errno;
  if (!stamp.exists && !name_is_missing(error_number)) {
    report_copy_error(copy_failure(copy_destination_failed, error_number), source.c_str(),
                      destination.c_str());
    return false;
  }
  if (stamp.exists)
    fill_stamp(status, &stamp);
  if (stamp.is_stream)
    stamp.size = length;
  if (options.existing_only && stamp.is_stream && length == -1)
    stamp.exists = false;
  pair->destination_status.known = !stamp.is_stream;
  pair->destination_status.exists = stamp.exists;
  return true;
}

// An explanation of a skipped or replaced file, which -l- keeps out.
void log_up_to_date_line(const nstring &source, const nstring &destination, const char *text) {
  if (options.log_up_to_date)
    print_log("%ls ===> %ls%s", source.c_str(), destination.c_str(), text);
}

// The newer rule: true when the destination is kept.
bool kept_as_newer(const nstring &source, const nstring &destination, FilePair *pair) {
  get_file_version(pair->destination_base.c_str(), &pair->destination_stamp);
  FreshnessVerdict verdict = compare_freshness(pair->source_stamp, pair->destination_stamp);
  if (verdict.always_logged)
    print_log("%ls ===> %ls%s", source.c_str(), destination.c_str(), verdict.log_text);
  else
    log_up_to_date_line(source, destination, verdict.log_text);
  return verdict.skip;
}

// The changed rule: true when the destination is kept as the same file.
bool kept_as_same(const nstring &source, const nstring &destination, FilePair *pair) {
  get_file_version(pair->destination_base.c_str(), &pair->destination_stamp);
  if (!files_are_same(pair->source_stamp, pair->destination_stamp))
    return false;
  log_up_to_date_line(source, destination, " : Files are the same.\n");
  return true;
}

// The selection rules: true when the file is to be copied.
bool passes_selection(const nstring &source, const nstring &destination, FilePair *pair,
                      bool destination_from_directory) {
  bool exists = pair->destination_stamp.exists;
  if (destination_from_directory && !exists && options.existing_only) {
    log_up_to_date_line(source, destination, " : Destination file does not exist.\n");
    return false;
  }
  if (is_excluded(source.c_str()))
    return false;
  if (options.newer_only && exists && kept_as_newer(source, destination, pair))
    return false;
  return !(options.changed_only && exists && kept_as_same(source, destination, pair));
}

void list_identified(const JobContext &job, const nstring &source, const nstring &destination,
                     const FileStamp &stamp) {
  // Each listed file is one line of the LogFile.
  print_log("%ls ===> %ls\n", source.c_str(), destination.c_str());
  // Quiet hides the listing, not the totals the closing summary still
  // prints: `-id -q` is how a script asks what a copy would take.
  job.counters->identified_files += 1;
  job.counters->identified_bytes += stamp.size;
  if (!options.quiet)
    print_output("%12I64d\t%ls\n", stamp.size, source.c_str());
}

// The status of the file that holds `name` and the length of what `name`
// names (a stream's own), as they are now; false when the file can't be
// examined.
bool examine_now(const nstring &name, FileStatus *status, int64_t *length) {
  nstring base;
  bool stream = split_stream_name(name, &base);
  if (file_status(base.c_str(), status) != 0)
    return false;
  *length = stream ? stream_length(name.c_str()) : status->size;
  return true;
}

// A move deletes only what it copied: the source still has the size and
// time it had when the copy began, and the copy reached its end.
bool source_unchanged(const nstring &source, const FileStamp &stamp, int64_t source_end) {
  FileStatus status;
  int64_t size = 0;
  if (!examine_now(source, &status, &size))
    return false;
  const FileTime &then = stamp.modification_precise;
  return size == stamp.size && source_end == stamp.size &&
         status.modification_time.seconds == then.seconds &&
         status.modification_time.nanoseconds == then.nanoseconds;
}

// A move deletes only what a file now holds: the destination is a regular
// file, and holds the whole copy (after what it held before, when appended
// to). copy_ok, or why the source stays.
CopyResult check_copy_held(const nstring &destination, int64_t copied) {
  FileStatus status;
  int64_t length = 0;
  if (!examine_now(destination, &status, &length))
    return copy_failure(copy_destination_changed, 0);
  if (!status.is_regular)
    return copy_failure(copy_onto_special, 0);
  bool whole = options.append && !options.restart ? length >= copied : length == copied;
  return whole ? CopyResult() : copy_failure(copy_destination_changed, 0);
}

// Removes the source after a move, with its log line or its complaint.
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

int copy_and_report(const JobContext &job, const nstring &source, const nstring &destination,
                    const FilePair &pair) {
  print_log("%ls ===> %ls", source.c_str(), destination.c_str());
  if (!options.quiet)
    print_output("%ls ===> %ls", source.c_str(), destination.c_str());
  CopyRequest request;
  request.source = source.c_str();
  request.destination = destination.c_str();
  request.access_time = pair.source_stamp.access_precise;
  request.modification_time = pair.source_stamp.modification_precise;
  request.restart = options.restart;
  request.platform = options.platform_copy;
  request.known_source = pair.source_status;
  request.known_destination = pair.destination_status;
  CopyResult result = copy_file_data(*job.pool, request);
  bool deletes = options.move && job.last_target;
  if (result.status == copy_ok && deletes &&
      !source_unchanged(source, pair.source_stamp, result.source_end))
    result = copy_failure(copy_source_changed, 0);
  if (result.status == copy_ok && deletes)
    result = check_copy_held(destination, result.source_end);
  if (result.status != copy_ok) {
    report_copy_error(result, source.c_str(), destination.c_str());
    return 1;
  }
  report_output(" : Ok\n");
  // A copy the CopiedList can't name is still a copy, but not all went well.
  bool listed = record_copied(source.c_str());
  if (deletes)
    delete_source(source.c_str());
  return listed ? 0 : 1;
}

// The archive step: 0 to go on with the copy (perhaps to another name), 1
// when the file failed.
int archive_destination(const nstring &source, nstring *destination, FilePair *pair) {
  if (pair->destination_stamp.is_stream) {
    report_copy_error(copy_failure(copy_stream_archive, 0), source.c_str(), destination->c_str());
    return 1;
  }
  // A device or pipe has no content to keep, and renaming it away would
  // take it from whatever else uses it.
  if (is_special_file(pair->destination_status.status)) {
    report_copy_error(special_refusal("archive"), source.c_str(), destination->c_str());
    return 1;
  }
  if (rotate_generations(destination, source) != 0)
    return 1;
  pair->destination_status.known = false;
  return 0;
}

} // namespace

int copy_one_file(const JobContext &job, const nstring &destination_name, const nstring &source,
                  bool destination_from_directory, const FileStatus *known_source) {
  nstring destination = destination_name;
  FilePair pair;
  SourceKind kind = examine_source(source, destination, known_source, &pair);
  if (kind != source_file)
    return kind == source_directory ? 0 : 1;
  if (!examine_destination(source, destination, &pair))
    return 1;
  if (!passes_selection(source, destination, &pair, destination_from_directory))
    return 0;
  // A move onto the file itself makes no generation: the copy entry then
  // refuses the pair as the same file, and nothing is renamed or deleted.
  bool move_onto_itself = options.move && pair.destination_stamp.exists &&
                          names_same_file(source.c_str(), pair.destination_base.c_str());
  if (pair.destination_stamp.exists && options.archive && !move_onto_itself &&
      archive_destination(source, &destination, &pair) != 0)
    return 1;
  if (options.identify_only) {
    list_identified(job, source, destination, pair.source_stamp);
    return 0;
  }
  return copy_and_report(job, source, destination, pair);
}

} // namespace zorov

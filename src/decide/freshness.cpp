// The freshness rules: whether an existing destination is kept (by file
// version first, then by modification time) and whether two files count as
// the same. They read the two stamps the per-file job has just filled.
#include "decide/freshness.h"

#include "cli/messages.h"
#include "cli/options.h"

#include <cstdint>
#include <limits>

namespace zorov {

namespace {

// Two modification times closer than this are the same for the sameness
// rule, whatever tolerance the newer rule was given: file systems that keep
// times in two-second steps must not make every file look changed.
const int64_t kSameTimeBound = 2;

const char kNewerVersion[] = " : Destination has newer version.\n";
const char kOlderVersion[] = " : Destination has older version.\n";

// source - destination, held at the ends of the range instead of wrapping,
// so that absurd times still compare the right way round.
int64_t time_difference(int64_t source, int64_t destination) {
  const int64_t most = std::numeric_limits<int64_t>::max();
  const int64_t least = std::numeric_limits<int64_t>::min();
  if (destination < 0 && source > most + destination)
    return most;
  if (destination > 0 && source < least + destination)
    return least;
  return source - destination;
}

// The LogFile line of a decision: the pair, then the text.
void log_decision(const nchar *source, const nchar *destination, const char *text) {
  print_log("%ls ===> %ls%s", source, destination, text);
}

// An explanation of a skipped or replaced file, which -l- keeps out.
void log_up_to_date_line(const nchar *source, const nchar *destination, const char *text) {
  if (options.log_up_to_date)
    log_decision(source, destination, text);
}

// The version rows: 1 skip, 0 copy, -1 when the versions are equal and the
// times decide.
int compare_version_words(const nchar *source, const nchar *destination) {
  if (destination_stamp.version_ms > source_stamp.version_ms) {
    // A newer version is never replaced silently: the line is written even
    // when up-to-date lines are not.
    log_decision(source, destination, kNewerVersion);
    return 1;
  }
  if (destination_stamp.version_ms < source_stamp.version_ms) {
    log_up_to_date_line(source, destination, kOlderVersion);
    return 0;
  }
  if (destination_stamp.version_ls > source_stamp.version_ls) {
    log_up_to_date_line(source, destination, kNewerVersion);
    return 1;
  }
  if (destination_stamp.version_ls < source_stamp.version_ls) {
    log_up_to_date_line(source, destination, kOlderVersion);
    return 0;
  }
  return -1;
}

int compare_times(const nchar *source, const nchar *destination) {
  int64_t difference =
      time_difference(source_stamp.modification_time, destination_stamp.modification_time);
  int64_t tolerance = int64_t(options.time_tolerance_seconds);
  if (difference > tolerance) {
    log_up_to_date_line(source, destination, " : Destination is older.\n");
    return 0;
  }
  if (difference < -tolerance) {
    log_up_to_date_line(source, destination, " : Destination is newer.\n");
    return 1;
  }
  log_up_to_date_line(source, destination, " : Up to Date.\n");
  return 1;
}

} // namespace

void get_file_version(const nchar *name, FileStamp *stamp) {
  stamp->version_ms = 0;
  stamp->version_ls = 0;
  if (!options.compare_versions)
    return;
  read_file_version(name, &stamp->version_ms, &stamp->version_ls);
}

int compare_freshness(const nchar *source, const nchar *destination) {
  if (options.compare_versions) {
    int decided = compare_version_words(source, destination);
    if (decided >= 0)
      return decided;
  }
  return compare_times(source, destination);
}

bool files_are_same() {
  if (destination_stamp.version_ms != source_stamp.version_ms ||
      destination_stamp.version_ls != source_stamp.version_ls)
    return false;
  if (source_stamp.size != destination_stamp.size)
    return false;
  int64_t difference =
      time_difference(source_stamp.modification_time, destination_stamp.modification_time);
  return difference <= kSameTimeBound && difference >= -kSameTimeBound;
}

} // namespace zorov

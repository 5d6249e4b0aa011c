// The freshness rules: whether an existing destination is kept (by file
// version first, then by modification time) and whether two files count as
// the same. They read the two stamps the per-file job has just filled.
#include "decide/freshness.h"

#include "cli/base/options.h"

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

FreshnessVerdict verdict(bool skip, const char *log_text) { return {skip, log_text, false}; }

// The version rows; a verdict without a text when the versions are equal
// and the times decide.
FreshnessVerdict compare_version_words(const FileStamp &source, const FileStamp &destination) {
  if (destination.version_ms > source.version_ms)
    return {true, kNewerVersion, true};
  if (destination.version_ms < source.version_ms)
    return verdict(false, kOlderVersion);
  if (destination.version_ls > source.version_ls)
    return verdict(true, kNewerVersion);
  if (destination.version_ls < source.version_ls)
    return verdict(false, kOlderVersion);
  return verdict(false, nullptr);
}

FreshnessVerdict compare_times(const FileStamp &source, const FileStamp &destination) {
  int64_t difference = time_difference(source.modification_time, destination.modification_time);
  int64_t tolerance = int64_t(options.time_tolerance_seconds);
  if (difference > tolerance)
    return verdict(false, " : Destination is older.\n");
  if (difference < -tolerance)
    return verdict(true, " : Destination is newer.\n");
  return verdict(true, " : Up to Date.\n");
}

} // namespace

void get_file_version(const nchar *name, FileStamp *stamp) {
  stamp->version_ms = 0;
  stamp->version_ls = 0;
  if (!options.compare_versions)
    return;
  read_file_version(name, &stamp->version_ms, &stamp->version_ls);
}

FreshnessVerdict compare_freshness(const FileStamp &source, const FileStamp &destination) {
  if (options.compare_versions) {
    FreshnessVerdict by_version = compare_version_words(source, destination);
    if (by_version.log_text)
      return by_version;
  }
  return compare_times(source, destination);
}

bool files_are_same(const FileStamp &source, const FileStamp &destination) {
  if (destination.version_ms != source.version_ms || destination.version_ls != source.version_ls)
    return false;
  if (source.size != destination.size)
    return false;
  int64_t difference = time_difference(source.modification_time, destination.modification_time);
  return difference <= kSameTimeBound && difference >= -kSameTimeBound;
}

} // namespace zorov

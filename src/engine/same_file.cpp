#include "engine/same_file.h"

#include "engine/case_folding.h"
#include "platform/path_syntax.h"

namespace zorov {

namespace {

// Where the final component of `name` begins.
size_t final_component_start(const nstring &name) {
  size_t start = size_t(drive_prefix_length(name, native_path_style));
  for (size_t i = start; i < name.size(); ++i)
    if (is_separator(name[i], native_path_style))
      start = i + 1;
  return start;
}

// An identity the platform could not read is no identity.
bool identity_known(const FileStatus &status) {
  return status.device != 0 || status.file_index != 0;
}

// How many directory levels up a spelling by case is followed.
const int kSpellingDepth = 64;

// A directory part as a name to examine: without its trailing separator
// (which the Windows runtime refuses), a root or drive as it is.
nstring directory_or_current(const nstring &directory) {
  if (directory.empty())
    return NT(".");
  nstring name = directory;
  drop_trailing_separator(&name, native_path_style);
  return name;
}

// Whether `directory` holds an entry of exactly `name`, byte for byte. The
// pattern has a wildcard so that the directory is truly listed, not the
// name looked up (which a case-folding layer would answer for any spelling).
bool lists_entry(const nstring &directory, const nstring &name) {
  DirectoryEntry entry;
  DirectorySearch *search = search_first((directory + name + NT("*")).c_str(), &entry);
  bool found = false;
  for (int more = search ? 1 : 0; more && !found; more = search_next(search, &entry))
    found = entry.name == name;
  if (search)
    search_close(search);
  return found;
}

bool same_entry(const nstring &first, const nstring &second, int depth);

// Two directory parts (each empty, or ending in a separator): one directory
// by identity, or by spellings of one entry.
bool same_directory(const nstring &first, const nstring &second, int depth) {
  if (first == second)
    return true;
  FileStatus one, other;
  if (file_status(directory_or_current(first).c_str(), &one) != 0 ||
      file_status(directory_or_current(second).c_str(), &other) != 0)
    return false;
  if (same_identity(one, other))
    return true;
  if (!identity_known(one) || !identity_known(other))
    return false;
  if (depth == 0 || first.size() < 2 || second.size() < 2)
    return false;
  return same_entry(first.substr(0, first.size() - 1), second.substr(0, second.size() - 1),
                    depth - 1);
}

// A file system that folds letter case may give each spelling of a name an
// identity of its own, directories included; the directory's own listing
// tells the spellings apart from entries of their own.
bool same_entry(const nstring &first, const nstring &second, int depth) {
  size_t first_cut = final_component_start(first);
  size_t second_cut = final_component_start(second);
  nstring first_name = first.substr(first_cut);
  nstring second_name = second.substr(second_cut);
  bool exact = first_name == second_name;
  if (!exact && !differ_only_in_case(first_name, second_name))
    return false;
  // Dots and empty names say nothing by their text.
  if (first_name.empty() || first_name == NT("..") || second_name == NT(".."))
    return false;
  nstring directory = second.substr(0, second_cut);
  return same_directory(first.substr(0, first_cut), directory, depth) &&
         (exact || !lists_entry(directory, second_name));
}

// The component of `name` that ends at `*end` (separators at the end are
// passed over); `*end` moves to its start. False when none is left.
bool previous_component(const nstring &name, size_t *end, nstring *component) {
  size_t stop = *end;
  while (stop > 0 && is_separator(name[stop - 1], native_path_style))
    --stop;
  if (stop == 0)
    return false;
  size_t start = stop;
  while (start > 0 && !is_separator(name[start - 1], native_path_style))
    --start;
  *component = name.substr(start, stop - start);
  *end = start;
  return true;
}

bool is_dots(const nstring &component) { return component == NT(".") || component == NT(".."); }

enum Spelling { not_spellings, spellings, undecided };

// The two names compared by their text, component by component from their
// ends: spellings of one name when a pair differs only in letter case and
// every pair below it is equal; not when a pair below differs otherwise;
// undecided when a name ends, or a dot component comes, first.
Spelling compare_spellings(const nstring &first, const nstring &second) {
  size_t first_end = first.size(), second_end = second.size();
  nstring one, other;
  bool found = false;
  while (previous_component(first, &first_end, &one) &&
         previous_component(second, &second_end, &other) && !is_dots(one) && !is_dots(other)) {
    if (one == other)
      continue;
    if (!differ_only_in_case(one, other))
      return found ? spellings : not_spellings;
    found = true;
  }
  return found ? spellings : undecided;
}

// Most pairs are told apart by their text alone; only spellings by case are
// looked up on the disk, their relative names made absolute first.
bool is_case_spelling(const nstring &source_file, const nstring &destination) {
  if (compare_spellings(source_file, destination) == not_spellings)
    return false;
  nstring first, second;
  if (resolve_full_path(source_file.c_str(), &first) != 0 ||
      resolve_full_path(destination.c_str(), &second) != 0)
    return false;
  Spelling verdict = compare_spellings(first, second);
  if (verdict == undecided)
    return first == second;
  return verdict == spellings && same_entry(first, second, kSpellingDepth);
}

bool same_time(const FileTime &one, const FileTime &other) {
  return one.seconds == other.seconds && one.nanoseconds == other.nanoseconds;
}

// Whether two statuses may be those of one file under two names. A file
// system that gives each spelling of a name an identity of its own still
// gives every spelling the file's size and times, down to the time its
// status last changed, which no copy is given: a copy's status never
// agrees, so a destination that merely holds a copy of its source costs no
// look at its directory.
bool statuses_agree(const FileStatus &one, const FileStatus &other) {
  return one.device == other.device && one.size == other.size &&
         one.is_directory == other.is_directory &&
         same_time(one.modification_time, other.modification_time) &&
         same_time(one.change_time, other.change_time);
}

// The name and the directory part of a full name (the part ends in a
// separator); false for a root.
bool split_final(const nstring &full, nstring *directory, nstring *name) {
  size_t end = full.size();
  if (!previous_component(full, &end, name) || is_dots(*name))
    return false;
  *directory = full.substr(0, end);
  return true;
}

// An entry's status, from the search where it took one.
bool entry_status(const nstring &directory, const DirectoryEntry &entry, FileStatus *status) {
  if (entry.status_known) {
    *status = entry.status;
    return true;
  }
  return file_status((directory + entry.name).c_str(), status) == 0;
}

// The source as its directory lists it: the directory part, the name and
// the status; whether that directory is the destination's is asked only
// when an entry needs it.
struct ListedSource {
  nstring directory, name;
  const FileStatus *status;
  int in_directory; // -1 not asked yet, else 0 or 1
};

// Whether the entry `name` of `directory` may be the source: its name or a
// spelling of it by case in the source's own directory, or its identity.
bool may_be_source(ListedSource *source, const nstring &directory, const DirectoryEntry &entry,
                   const FileStatus *entry_status) {
  if (source->in_directory < 0)
    source->in_directory = same_directory(source->directory, directory, kSpellingDepth) ? 1 : 0;
  if (!source->in_directory)
    return false;
  return same_when_folded(entry.name, source->name) ||
         (entry_status && same_identity(*entry_status, *source->status));
}

// A destination the file system answers for under a name its directory does
// not list (a spelling it folds by rules of its own, a short name) is one of
// the entries listed there. It is taken for the source unless an entry that
// can't be the source is shown to be it, by its spelling or its identity:
// refusing a copy is safe, truncating the source is not.
bool unlisted_name_of_source(const nstring &source_file, const FileStatus &source_status,
                             const nstring &destination, const FileStatus &destination_status) {
  nstring first, second;
  if (resolve_full_path(source_file.c_str(), &first) != 0 ||
      resolve_full_path(destination.c_str(), &second) != 0)
    return true;
  ListedSource source = {NT(""), NT(""), &source_status, -1};
  nstring directory, name;
  if (!split_final(first, &source.directory, &source.name) ||
      !split_final(second, &directory, &name))
    return false;
  // Most names are their own entries, found among the few names that begin
  // alike before the whole directory is read.
  if (lists_entry(directory, name))
    return false;
  DirectoryEntry entry;
  DirectorySearch *search = search_first((directory + NT("*")).c_str(), &entry);
  bool listed = false, other_file = false;
  for (int more = search ? 1 : 0; more == 1 && !listed; more = search_next(search, &entry)) {
    if (entry.name == name) {
      listed = true;
      continue;
    }
    FileStatus status;
    bool known = !is_dots(entry.name) && entry_status(directory, entry, &status);
    bool names_destination =
        same_when_folded(entry.name, name) || (known && same_identity(status, destination_status));
    if (names_destination && !may_be_source(&source, directory, entry, known ? &status : nullptr))
      other_file = true;
  }
  if (search)
    search_close(search);
  return !listed && !other_file;
}

// Whether a destination may be the source under a name its directory does
// not list. Only a destination whose status agrees with the source's can
// be, as a file system gives every spelling the file's status; but it may
// give a spelling the status it had when that spelling was last looked up,
// so a name that is not well-formed text, which a file system may read as
// another (an over-long letter, a pair of surrogates in UTF-8), is looked
// at whatever its status says.
bool may_be_unlisted_source(const FileStatus &source_status, const nstring &destination,
                            const FileStatus &destination_status) {
  if (statuses_agree(source_status, destination_status))
    return true;
  size_t end = destination.size();
  nstring name;
  return previous_component(destination, &end, &name) && !well_formed_name(name);
}

nstring holding_file(const nchar *source) {
  return stream_holder(nstring(source), native_path_style);
}

} // namespace

bool same_file_name(const nchar *first, const nchar *second, PathStyle style) {
  size_t i = 0;
  for (; first[i] && second[i]; ++i) {
    nchar a = first[i];
    nchar b = second[i];
    if (names_ignore_case(style)) {
      a = ascii_upper(a);
      b = ascii_upper(b);
    }
    if (a != b)
      return false;
  }
  return first[i] == second[i];
}

bool same_identity(const FileStatus &one, const FileStatus &other) {
  return identity_known(one) && identity_known(other) && one.device == other.device &&
         one.file_index == other.file_index;
}

bool is_same_file(const nchar *source, const FileStatus &source_status, const nchar *destination,
                  const FileStatus &destination_status) {
  if (same_file_name(source, destination, native_path_style))
    return true;
  if (same_identity(source_status, destination_status))
    return true;
  nstring source_file = holding_file(source);
  if (is_case_spelling(source_file, destination))
    return true;
  return may_be_unlisted_source(source_status, destination, destination_status) &&
         unlisted_name_of_source(source_file, source_status, destination, destination_status);
}

bool is_within_source_file(const nchar *source, const FileStatus &source_status,
                           const nchar *destination) {
  nstring holder = holding_file(destination);
  if (holder.size() == std::char_traits<nchar>::length(destination) ||
      holding_file(source) != source)
    return false;
  if (same_file_name(source, holder.c_str(), native_path_style))
    return true;
  FileStatus holder_status;
  return file_status(holder.c_str(), &holder_status) == 0 &&
         is_same_file(source, source_status, holder.c_str(), holder_status);
}

bool names_same_file(const nchar *source, const nchar *destination) {
  FileStatus source_status, destination_status;
  if (file_status(holding_file(source).c_str(), &source_status) != 0 ||
      file_status(destination, &destination_status) != 0)
    return same_file_name(source, destination, native_path_style);
  return is_same_file(source, source_status, destination, destination_status);
}

} // namespace zorov

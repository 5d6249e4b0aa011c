// Archive generations: before an existing destination is replaced it becomes
// the newest numbered backup beside itself (report.(-01).txt), the older
// backups move one step back and the oldest falls off.
#include "decide/generations.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "engine/copy_entry.h"
#include "engine/same_file.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <cerrno>
#include <string>

namespace zorov {

namespace {

typedef PathParts<nchar> NameParts;

// ".(-gg)": 100 + g in three digits with the hundreds digit turned into a
// hyphen, so generation numbers always take two digits.
nstring generation_suffix(int generation) {
  std::string text = format_text(".(%3d)", 100 + generation);
  text[2] = '-';
  return nstring(text.begin(), text.end());
}

// A name that leaves no room for the suffix is shortened before it, the
// same way for every generation and every run.
nstring generation_name(const NameParts &parts, int generation) {
  return fitted_name(parts.drive + parts.directory, parts.name, generation_suffix(generation),
                     parts.extension, native_path_style);
}

// The backup of a file archived onto itself: the suffix after its whole
// name.
nstring own_backup_name(const NameParts &parts) {
  return fitted_name(parts.drive + parts.directory, parts.name + parts.extension,
                     generation_suffix(1), nstring(), native_path_style);
}

// The generation that is removed first, which is also the only one with a
// single generation kept.
int oldest_generation(int generations) { return generations >= 2 ? generations - 1 : 0; }

// True when the rotation would remove or move the file being copied: the
// oldest generation is removed and generations 1 to N - 2 are moved.
bool source_is_generation(const NameParts &parts, int generations, const nstring &source_file) {
  int first = generations >= 2 ? 1 : 0;
  for (int generation = first; generation <= oldest_generation(generations); ++generation)
    if (names_same_file(source_file.c_str(), generation_name(parts, generation).c_str()))
      return true;
  return false;
}

// A refused archive completes the file's line like a failed copy.
void refuse(const nstring &source, const nstring &destination, const char *reason) {
  report_output("%ls ===> %ls : Failed.  %s\n", source.c_str(), destination.c_str(), reason);
}

void remove_oldest(const nstring &oldest) {
  if (remove_file(oldest.c_str()) == 0)
    print_log("%ls has been deleted.\n", oldest.c_str());
}

// Renames with the log line on success: 0, else the reason it failed. A
// failure (usually a generation that isn't there) is silent. A generation is
// never renamed onto a name that is still taken (its own shift failed),
// where a rename would replace that backup: EEXIST.
int rename_logged(const nstring &from, const nstring &to) {
  FileStatus status;
  if (file_status(to.c_str(), &status) == 0)
    return EEXIST;
  int looked_up = errno;
  if (!name_is_missing(looked_up))
    return looked_up;
  if (rename_file(from.c_str(), to.c_str()) != 0)
    return errno;
  print_log("%ls renamed to %ls\n", from.c_str(), to.c_str());
  return 0;
}

// The backup of a file archived onto itself is a name the program makes.
// A fresh file, made exclusively beside it, takes the name over: whatever
// held it is replaced (a link itself, never what it leads to, even a link
// the system doesn't show as one), so the copy never writes through a link
// planted there. Only an append or a restart keeps a backup of the user's
// own, whose content they go on from. 0, or 1 when the name can't be had.
int claim_backup_name(const nstring &backup, const nstring &source_file) {
  bool own = name_standing(backup.c_str()) == name_own_file;
  if (own && (options.append || options.restart))
    return 0;
  std::string digits = format_text(".%08x", random_number());
  NameParts parts = split_path(backup, native_path_style);
  nstring fresh = fitted_name(parts.drive + parts.directory, parts.name + parts.extension,
                              nstring(digits.begin(), digits.end()), nstring(), native_path_style);
  FileStatus source_status;
  uint32_t permissions = file_status(source_file.c_str(), &source_status) == 0
                             ? source_status.permissions & 0777
                             : 0600;
  FileIdentity made;
  int descriptor =
      fits_path_buffer(fresh) ? create_new_file(fresh.c_str(), permissions | 0200, &made) : -1;
  if (descriptor < 0)
    return own ? 0 : 1;
  close_file(descriptor);
  if (rename_made_file(fresh.c_str(), backup.c_str(), made) == 0)
    return 0;
  remove_file(fresh.c_str());
  // A read-only backup of one's own is the copy's to refuse or overwrite.
  return own ? 0 : 1;
}

void shift_generations(const NameParts &parts, int generations) {
  for (int generation = generations - 1; generation >= 2; --generation)
    rename_logged(generation_name(parts, generation - 1), generation_name(parts, generation));
}

} // namespace

int rotate_generations(nstring *destination, const nstring &source) {
  int generations = options.generations;
  NameParts parts = split_path(*destination, native_path_style);
  if (options.identify_only)
    return 0;
  // Without its backup the destination is not replaced.
  if (!fits_path_buffer(generation_name(parts, 1))) {
    refuse(source, *destination, "Archive name too long.");
    return 1;
  }
  // The file itself, whatever the stream of it is being copied.
  nstring source_file = stream_holder(source, native_path_style);
  bool copy_of_itself = names_same_file(source.c_str(), destination->c_str());
  if (copy_of_itself && generations == 1) {
    // Renaming the destination would take the source away before it is
    // read; left in place, the copy engine reports the two as the same file.
    return 0;
  }
  if (source_is_generation(parts, generations, source_file)) {
    refuse(source, *destination, "The source is an archive generation of the destination.");
    return 1;
  }
  nstring oldest = generation_name(parts, oldest_generation(generations));
  remove_oldest(oldest);
  shift_generations(parts, generations);
  if (copy_of_itself) {
    // A file archived onto itself stays where it is; the copy becomes its
    // backup beside it, outside the numbered generations.
    nstring backup = own_backup_name(parts);
    if (claim_backup_name(backup, source_file) != 0) {
      refuse(source, backup, "Archive name taken.");
      return 1;
    }
    *destination = backup;
    return 0;
  }
  nstring newest = generations >= 2 ? generation_name(parts, 1) : oldest;
  int failure = rename_logged(*destination, newest);
  if (failure == 0 || name_is_missing(failure))
    return 0;
  // Copied over, the destination would be lost without its backup.
  std::string reason = error_text(failure);
  refuse(source, *destination, ("Unable to archive the destination.  " + reason).c_str());
  return 1;
}

} // namespace zorov

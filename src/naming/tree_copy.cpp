// The tree copy: the files of a source directory go to a destination
// directory, and with recursion every subdirectory is created at the
// destination and walked in turn.
#include "naming/tree_copy.h"

#include "cli/base/error_level.h"
#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "decide/file_job.h"
#include "engine/same_file.h"
#include "naming/path_probe.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdint>
#include <vector>

namespace zorov {

namespace {

// Blanks the console line under the -sv directory echo.
const char kBlankLine[] =
    "                                                                               ";

// One level of the walk in progress: the directory being read and the one
// its files go to. The destination may not exist yet (it is created with the
// first subdirectory below it), so it is looked up again until it is found.
struct WalkLevel {
  FileStatus source;
  nstring destination;
  bool destination_found = false;
  FileStatus destination_status;
};

// One copy of a tree: the job its files go to, and the levels from the top
// of the walk down to the one being read.
struct TreeWalk {
  const JobContext &job;
  std::vector<WalkLevel> levels;
};

// The status of `name`; one without an identity when it can't be had.
FileStatus status_of(const nstring &name) {
  FileStatus status;
  if (file_status(name.c_str(), &status) != 0)
    return FileStatus();
  return status;
}

// The status the search took of an entry, where it took one.
FileStatus entry_status(const DirectoryEntry &entry, const nstring &name) {
  return entry.status_known ? entry.status : status_of(name);
}

// Names are refused whole, never cut into the name of some other file.
void refuse_long_name(const nstring &name) { report_output("%ls: Name too long.\n", name.c_str()); }

// The directory's name joined with an entry's. An empty directory is the
// current one, so its entries keep their bare names rather than becoming
// names at the root.
nstring join_entry(const nstring &directory, const nstring &name) {
  if (directory.empty())
    return name;
  return join_path(directory, name, native_path_style);
}

bool is_dot_entry(const nstring &name) { return name == NT(".") || name == NT(".."); }

// Whether a destination of the walk is the subdirectory `source_entry`,
// by the rules that tell a destination from its source.
bool is_destination(WalkLevel *level, const nstring &source_entry, const FileStatus &entry) {
  if (!level->destination_found)
    level->destination_found =
        file_status(level->destination.c_str(), &level->destination_status) == 0;
  return level->destination_found &&
         is_same_file(source_entry.c_str(), entry, level->destination.c_str(),
                      level->destination_status);
}

// A subdirectory that is one of the directories being read (a link or a
// mount back up the tree), or one being written to (the destination lies
// inside the source), would be walked without end. True when it is one of
// them; the message is written here.
bool leads_back(TreeWalk *walk, const nstring &source_entry, const FileStatus &entry) {
  for (const WalkLevel &level : walk->levels) {
    if (same_identity(level.source, entry)) {
      report_output("%ls: Directory leads back to one of its parents; passed over.\n",
                    source_entry.c_str());
      return true;
    }
  }
  for (WalkLevel &level : walk->levels) {
    if (is_destination(&level, source_entry, entry)) {
      report_output("%ls: Directory is a destination of this copy; passed over.\n",
                    source_entry.c_str());
      return true;
    }
  }
  return false;
}

// Creates a missing destination subdirectory. False, with the messages,
// when it can't be made. One that another run made meanwhile is taken as it
// is, without the message.
bool create_destination(nstring *destination_entry) {
  int made = make_directory_path(destination_entry);
  if (made == 0)
    report_output("Directory: %ls has been created.\n", destination_entry->c_str());
  if (made >= 0)
    return true;
  int error_number = errno;
  const char *text = "%ls: Unable to create destination directory.\n";
  if (!options.quiet) {
    print_output(text, destination_entry->c_str());
    print_error_text(error_number);
  }
  print_log(text, destination_entry->c_str());
  return false;
}

int walk_level(TreeWalk *walk, const nstring &source_dir, const nstring &destination_dir,
               const FileStatus &source_status);

int copy_subdirectory(TreeWalk *walk, const nstring &source_entry, const FileStatus &status,
                      nstring *destination_entry) {
  if (leads_back(walk, source_entry, status))
    return 1;
  // Nothing is created when only listing what would be copied.
  if (probe_path(destination_entry->c_str()) != 1 && !options.identify_only &&
      !create_destination(destination_entry))
    return level_stopped;
  return walk_level(walk, source_entry, *destination_entry, status);
}

int copy_entry(TreeWalk *walk, const DirectoryEntry &entry, const nstring &source_dir,
               const nstring &destination_dir) {
  bool directory = (entry.attributes & attribute_directory) != 0;
  if (directory && is_dot_entry(entry.name))
    return 0;
  // Hidden and system subdirectories are walked all the same; only files
  // (and, without recursion, the subdirectories the file job passes over)
  // are subject to the hidden rule.
  bool descend = directory && options.recurse;
  bool hidden = (entry.attributes & (attribute_hidden | attribute_system)) != 0;
  if (!descend && hidden && !options.copy_hidden)
    return 0;
  nstring source_entry = join_entry(source_dir, entry.name);
  nstring destination_entry = join_entry(destination_dir, entry.name);
  for (const nstring *name : {&source_entry, &destination_entry}) {
    if (!fits_path_buffer(*name)) {
      refuse_long_name(*name);
      return 1;
    }
  }
  if (descend)
    return copy_subdirectory(walk, source_entry, entry_status(entry, source_entry),
                             &destination_entry);
  return copy_one_file(walk->job, destination_entry, source_entry, true,
                       entry.status_known ? &entry.status : nullptr);
}

// A directory that can't be read is a failure of its level, never a silent
// skip: its files would be missing from the copy. Reported like a failed
// file, with the system's reason; 1.
int report_unreadable(const nstring &source_dir, int error_number) {
  nstring full;
  if (resolve_full_path(source_dir.c_str(), &full) != 0)
    full = source_dir;
  report_unreadable_directory(full, error_number);
  return 1;
}

// A search that could not start: 0 when there was simply nothing to list
// (an empty drive root, a directory removed meanwhile), else the failure
// reported.
int search_not_started(const nstring &source_dir, int error_number) {
  if (error_number == ENOENT)
    return 0;
  return report_unreadable(source_dir, error_number);
}

int walk_entries(TreeWalk *walk, DirectorySearch *search, DirectoryEntry *entry,
                 const nstring &source_dir, const nstring &destination_dir) {
  int worst = 0;
  int found = 1;
  for (; found > 0; found = search_next(search, entry)) {
    int result = copy_entry(walk, *entry, source_dir, destination_dir);
    if (result > worst)
      worst = result;
  }
  if (found < 0 && report_unreadable(source_dir, errno) > worst)
    worst = 1;
  return worst;
}

// One level of the walk; the source directory's identity is known already.
// The destination's is looked up only when a subdirectory needs it.
int walk_level(TreeWalk *walk, const nstring &source_dir, const nstring &destination_dir,
               const FileStatus &source_status) {
  if (options.verbose_recursion && !options.quiet)
    print_output("\r%s\r%ls\r", kBlankLine, source_dir.c_str());
  nstring pattern = join_entry(source_dir, NT("*.*"));
  if (!fits_path_buffer(pattern)) {
    refuse_long_name(pattern);
    return 1;
  }
  DirectoryEntry entry;
  DirectorySearch *search = search_first(pattern.c_str(), &entry);
  if (!search)
    return search_not_started(source_dir, errno);
  WalkLevel level;
  level.source = source_status;
  level.destination = destination_dir;
  walk->levels.push_back(level);
  int worst = walk_entries(walk, search, &entry, source_dir, destination_dir);
  walk->levels.pop_back();
  search_close(search);
  return worst;
}

} // namespace

int copy_tree(const JobContext &job, const nstring &source_dir, const nstring &destination_dir) {
  TreeWalk walk{job, {}};
  return walk_level(&walk, source_dir, destination_dir,
                    status_of(source_dir.empty() ? nstring(NT(".")) : source_dir));
}

} // namespace zorov

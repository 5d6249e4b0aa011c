#include "naming/path_probe.h"

#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <cerrno>

namespace zorov {

namespace {

// Drops a stream suffix and a trailing separator the way the probe wants:
// never from a drive root ("C:\") nor from names of one or two characters.
nstring probe_name(const nchar *path) {
  // The empty name is the current directory, never the root its search
  // pattern would list.
  nstring name(path[0] ? path : NT("."));
  if (!fits_path_buffer(name))
    name.resize(size_t(kPathMax));
  name = stream_holder(name, native_path_style);
  drop_trailing_separator_keeping_short_names(&name, native_path_style);
  return name;
}

} // namespace

int probe_path(const nchar *path) {
  nstring name = probe_name(path);
  FileStatus status;
  if (file_status(name.c_str(), &status) == 0)
    return status.is_directory ? 1 : -1;
  // A name the status query rejects but under which a search lists an entry
  // is a directory (a drive root, for one).
  nstring pattern = name + preferred_separator<nchar>(native_path_style) + NT('*');
  if (!fits_path_buffer(pattern))
    return 0;
  DirectoryEntry entry;
  DirectorySearch *search = search_first(pattern.c_str(), &entry);
  if (!search)
    return 0;
  search_close(search);
  return 1;
}

namespace {

// One level. A directory that another process made between the caller's
// look and this creation (two runs copying into one new target) is there as
// wanted: 1, as for `mkdir -p`. Whatever the creation's error said (a
// network share may not say EEXIST), the name is looked at again.
int make_directory_level(const nstring &path) {
  if (make_directory(path.c_str()) == 0)
    return 0;
  int error_number = errno;
  FileStatus status;
  if (file_status(path.c_str(), &status) == 0 && status.is_directory)
    return 1;
  errno = error_number;
  return -1;
}

} // namespace

int make_directory_path(nstring *path) {
  drop_trailing_separator_to_bare_drive(path, native_path_style);
  if (!fits_path_buffer(*path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  PathParts<nchar> parts = split_path(*path, native_path_style);
  nstring parent = parts.drive + parts.directory;
  bool parent_is_root =
      parts.directory.size() == 1 && is_separator(parts.directory[0], native_path_style);
  bool has_name = !(parts.name + parts.extension).empty();
  FileStatus status;
  bool parent_exists = file_status(parent.c_str(), &status) == 0 && status.is_directory;
  // A parent that can't be made shows in the final creation's error.
  if (!parent_is_root && has_name && !parent_exists && !parent.empty())
    make_directory_path(&parent);
  return make_directory_level(*path);
}

} // namespace zorov

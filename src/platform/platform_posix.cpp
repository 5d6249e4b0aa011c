// The platform layer on POSIX systems.
#include "platform/platform.h"

#include "platform/made_names.h"
#include "platform/name_rules.h"
#include "platform/path_syntax.h"
#include "platform/pe_version.h"
#include "platform/text_lines.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace zorov {

// ------------------------------------------------ directories kept open

// The files of one directory come one after another (a level of a tree, the
// pass that finds nothing to do), and a full name makes the kernel walk
// every component of it again for each call. The directory part is looked
// up once and kept open, and the call walks only the final component from
// there. Opening the directory follows links exactly as a walk of the full
// name does, the final component is looked up with the call's own flags,
// and the permission checks are made at the call as before, so the answers
// are those of the full name. A directory kept open stands for its name
// only until the program changes a name itself or starts reading another
// directory: from then on the name is looked up anew, so a directory
// renamed or replaced meanwhile is found under its name again.

namespace {

#ifndef O_PATH
#define O_PATH 0
#endif

struct KeptDirectory {
  std::string name;
  int descriptor = -1; // -1: the name is not an open directory, use the full name
  bool used = false;
};

// The source and the destination directory of a level, with room to spare.
const int kKeptDirectoryCount = 4;
KeptDirectory kept_by_name[kKeptDirectoryCount];
int next_replaced = 0;

int kept_directory(const std::string &directory) {
  for (const KeptDirectory &kept : kept_by_name)
    if (kept.used && kept.name == directory)
      return kept.descriptor;
  KeptDirectory &kept = kept_by_name[next_replaced];
  next_replaced = (next_replaced + 1) % kKeptDirectoryCount;
  if (kept.descriptor >= 0)
    close(kept.descriptor);
  int error_number = errno;
  kept.name = directory;
  kept.descriptor = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  kept.used = true;
  errno = error_number;
  return kept.descriptor;
}

void forget_kept_directories() {
  int error_number = errno;
  for (KeptDirectory &kept : kept_by_name) {
    if (kept.descriptor >= 0)
      close(kept.descriptor);
    kept = KeptDirectory();
  }
  errno = error_number;
}

// Where a call on a name looks it up: the directory kept open for its
// directory part and the final component, or the name as it is.
struct Lookup {
  int directory = AT_FDCWD;
  const char *name = nullptr;
};

Lookup lookup_of(const char *name) {
  Lookup lookup;
  lookup.name = name;
  const char *slash = std::strrchr(name, '/');
  // A name without a directory part is walked from the current directory
  // already; one at the root walks no further.
  if (!slash || slash == name)
    return lookup;
  const char *final_component = slash + 1;
  if (*final_component == 0 || std::strcmp(final_component, ".") == 0 ||
      std::strcmp(final_component, "..") == 0)
    return lookup;
  // A name the kernel would refuse as too long keeps its refusal.
  if (std::strlen(name) >= PATH_MAX)
    return lookup;
  int directory = kept_directory(std::string(name, size_t(slash - name)));
  if (directory < 0)
    return lookup;
  lookup.directory = directory;
  lookup.name = final_component;
  return lookup;
}

// True when the name is missing, or is something other than a link or a
// directory: no other name can lead through it.
bool names_no_link(const Lookup &lookup) {
  struct stat info;
  int error_number = errno;
  bool plain = fstatat(lookup.directory, lookup.name, &info, AT_SYMLINK_NOFOLLOW) != 0
                   ? errno == ENOENT
                   : !S_ISLNK(info.st_mode) && !S_ISDIR(info.st_mode);
  errno = error_number;
  return plain;
}

} // namespace

// ---------------------------------------------------------------- status

namespace {

FileTime from_timespec(const struct timespec &time) {
  FileTime converted;
  converted.seconds = int64_t(time.tv_sec);
  converted.nanoseconds = int32_t(time.tv_nsec);
  return converted;
}

void fill_status(const struct stat &info, FileStatus *status) {
  status->size = int64_t(info.st_size);
  status->access_time = from_timespec(info.st_atim);
  status->modification_time = from_timespec(info.st_mtim);
  status->change_time = from_timespec(info.st_ctim);
  status->is_directory = S_ISDIR(info.st_mode);
  status->is_regular = S_ISREG(info.st_mode);
  status->read_only = (info.st_mode & S_IWUSR) == 0;
  status->permissions = uint32_t(info.st_mode & 07777);
  status->device = uint64_t(info.st_dev);
  status->file_index = uint64_t(info.st_ino);
  status->allocated = int64_t(info.st_blocks) * 512;
}

} // namespace

int file_status(const nchar *name, FileStatus *status) {
  struct stat info;
  Lookup lookup = lookup_of(name);
  if (fstatat(lookup.directory, lookup.name, &info, 0) != 0)
    return -1;
  fill_status(info, status);
  return 0;
}

// ------------------------------------------------------- full-path names

int resolve_full_path(const nchar *name, nstring *full) {
  std::string current;
  if (name[0] != '/') {
    char buffer[PATH_MAX];
    if (!getcwd(buffer, sizeof buffer))
      return -1;
    current = buffer;
  }
  std::string resolved = resolve_by_text(current, std::string(name), native_path_style);
  if (!fits_path_buffer(resolved)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  *full = resolved;
  return 0;
}

// ------------------------------------------------------ directory search

// The names are read and sorted when the search starts; each entry's status
// is taken as it is yielded, relative to the directory kept open, so that it
// is as fresh as a status asked for by name and spares walking the path.
struct DirectorySearch {
  std::vector<std::string> names;
  size_t next = 0;
  DIR *stream = nullptr; // null when too many searches are open already
  std::string directory;
};

namespace {

// Searches nest one per level of a tree walk; beyond this many the
// directory is not kept open, so a deep tree never runs out of descriptors.
const int kMostKeptDirectories = 256;
int kept_directories = 0;

bool entry_status(const DirectorySearch *search, const std::string &name, struct stat *info) {
  if (search->stream)
    return fstatat(dirfd(search->stream), name.c_str(), info, 0) == 0;
  std::string path = search->directory == "/" ? "/" + name : search->directory + "/" + name;
  return stat(path.c_str(), info) == 0;
}

void yield_entry(DirectorySearch *search, DirectoryEntry *entry) {
  const std::string &name = search->names[search->next++];
  entry->name = name;
  entry->attributes = 0;
  entry->status_known = false;
  if (hidden_by_name(name, native_path_style))
    entry->attributes |= attribute_hidden;
  struct stat info;
  if (!entry_status(search, name, &info))
    return;
  if (S_ISDIR(info.st_mode))
    entry->attributes |= attribute_directory;
  if ((info.st_mode & S_IWUSR) == 0)
    entry->attributes |= attribute_read_only;
  fill_status(info, &entry->status);
  entry->status_known = true;
}

} // namespace

DirectorySearch *search_first(const nchar *pattern, DirectoryEntry *entry) {
  std::string text = pattern;
  size_t slash = text.rfind('/');
  std::string directory = ".";
  std::string final_component = text;
  if (slash != std::string::npos) {
    directory = slash == 0 ? "/" : text.substr(0, slash);
    final_component = text.substr(slash + 1);
  }
  forget_kept_directories();
  DIR *stream = opendir(directory.c_str());
  if (!stream)
    return nullptr;
  // A directory that can be listed but not entered (read without search
  // permission) shows names of which nothing can be had, not even whether
  // they are directories: it is a directory that can't be read.
  struct stat entered;
  if (fstatat(dirfd(stream), ".", &entered, 0) != 0) {
    int error_number = errno;
    closedir(stream);
    errno = error_number;
    return nullptr;
  }
  DirectorySearch *search = new DirectorySearch;
  for (;;) {
    errno = 0;
    struct dirent *item = readdir(stream);
    if (!item)
      break;
    if (pattern_matches(final_component.c_str(), item->d_name, native_path_style))
      search->names.push_back(item->d_name);
  }
  // A listing cut short by a read error is no listing.
  int read_error = errno;
  if (read_error != 0 || search->names.empty()) {
    closedir(stream);
    delete search;
    errno = read_error != 0 ? read_error : ENOENT;
    return nullptr;
  }
  std::sort(search->names.begin(), search->names.end(),
            [](const std::string &first, const std::string &second) {
              return listed_before(first, second, native_path_style);
            });
  search->directory = directory;
  if (kept_directories < kMostKeptDirectories) {
    search->stream = stream;
    ++kept_directories;
  } else {
    closedir(stream);
  }
  yield_entry(search, entry);
  return search;
}

int search_next(DirectorySearch *search, DirectoryEntry *entry) {
  if (search->next >= search->names.size())
    return 0;
  yield_entry(search, entry);
  return 1;
}

void search_close(DirectorySearch *search) {
  if (search->stream) {
    closedir(search->stream);
    --kept_directories;
  }
  delete search;
}

// ------------------------------------------------- names on the disk

int make_directory(const nchar *name) {
  forget_kept_directories();
  return mkdir(name, 0777);
}

// A link removed may have been a component of a directory kept open; a
// file never is.
int remove_file(const nchar *name) {
  Lookup lookup = lookup_of(name);
  if (names_no_link(lookup))
    return unlinkat(lookup.directory, lookup.name, 0);
  forget_kept_directories();
  return unlink(name);
}

int rename_file(const nchar *from, const nchar *to) {
  forget_kept_directories();
  return rename(from, to);
}

namespace {

// The set-user-ID and set-group-ID bits make a program run with the rights
// of its owner and group. A new file never gets them; a copy given the
// source's bits keeps them only where it belongs to the source's own user
// (group): otherwise a copy root made of another user's program would run
// as root.
const mode_t kRunAsOwnerBits = S_ISUID | S_ISGID;

// The bits a new file is asked for, made with `permissions`.
mode_t new_file_bits(uint32_t permissions) {
  return mode_t(permissions & 07777) & ~kRunAsOwnerBits;
}

// The source's bits for its copy into `*bits`: 0, or -1 when the copy's
// owner and group, asked through `copy_status` only where the source has
// bits that depend on them, can't be had.
template <class CopyStatus>
int bits_for_copy(const struct stat &source, CopyStatus copy_status, mode_t *bits) {
  *bits = source.st_mode & 07777;
  if ((*bits & kRunAsOwnerBits) == 0)
    return 0;
  struct stat copy;
  if (copy_status(&copy) != 0)
    return -1;
  if (copy.st_uid != source.st_uid)
    *bits &= ~mode_t(S_ISUID);
  if (copy.st_gid != source.st_gid)
    *bits &= ~mode_t(S_ISGID);
  return 0;
}

} // namespace

int make_writable(const nchar *name) {
  struct stat info;
  if (stat(name, &info) != 0)
    return -1;
  return chmod(name, (info.st_mode & 07777) | S_IWUSR);
}

namespace {

void to_timespecs(FileTime access, FileTime modification, struct timespec times[2]) {
  times[0].tv_sec = time_t(access.seconds);
  times[0].tv_nsec = access.nanoseconds;
  times[1].tv_sec = time_t(modification.seconds);
  times[1].tv_nsec = modification.nanoseconds;
}

} // namespace

int set_file_times(const nchar *name, FileTime access, FileTime modification) {
  struct timespec times[2];
  to_timespecs(access, modification, times);
  Lookup lookup = lookup_of(name);
  return utimensat(lookup.directory, lookup.name, times, 0);
}

namespace {

const long kFuseFileSystem = 0x65735546; // statfs's f_type of FUSE

// Whether times given through an open file stay when it is closed. A FUSE
// file system may date the file anew as it closes it (smbnetfs: the SMB
// server stamps the time of the last write when the handle closes, undoing
// the times given before); there they are given by name once it is closed.
bool times_outlast_close(int descriptor) {
  struct statfs info;
  return fstatfs(descriptor, &info) != 0 || long(info.f_type) != kFuseFileSystem;
}

} // namespace

int set_open_file_times(int descriptor, FileTime access, FileTime modification) {
  if (!times_outlast_close(descriptor)) {
    errno = ENOTSUP;
    return -1;
  }
  struct timespec times[2];
  to_timespecs(access, modification, times);
  return futimens(descriptor, times);
}

int copy_file_attributes(const nchar *source, const nchar *written) {
  struct stat info;
  mode_t bits;
  if (stat(source, &info) != 0 ||
      bits_for_copy(
          info, [written](struct stat *copy) { return stat(written, copy); }, &bits) != 0)
    return -1;
  return chmod(written, bits);
}

// ------------------------------------------------- file descriptors

namespace {

// A file whose owner-write bit is clear is read-only for everyone, root
// included, as the read-only attribute is on Windows.
bool refused_as_read_only(const char *name) {
  struct stat info;
  if (stat(name, &info) != 0 || !S_ISREG(info.st_mode))
    return false;
  return (info.st_mode & S_IWUSR) == 0;
}

int open_descriptor(const char *name, int flags, uint32_t permissions) {
  Lookup lookup = lookup_of(name);
  int descriptor;
  do {
    descriptor =
        openat(lookup.directory, lookup.name, flags | O_NOCTTY, new_file_bits(permissions));
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

// Closes a descriptor that is not handed back, keeping the errno of what
// refused it: -1.
int given_up(int descriptor) {
  int error_number = errno;
  close(descriptor);
  errno = error_number;
  return -1;
}

// Opens for writing without truncating first, so that a read-only file is
// refused before anything of it is lost; the truncation follows the check.
// A file this call creates is writable whatever permissions it was given.
// A device or pipe is written as it is; a pipe that no one reads refuses
// the open at once (ENXIO) instead of waiting for a reader for ever.
int open_for_writing(const char *name, int flags, bool truncate, uint32_t permissions) {
  // A new file is the common case of a copy: one call makes it.
  int descriptor = open_descriptor(name, flags | O_CREAT | O_EXCL, permissions);
  if (descriptor >= 0 || errno != EEXIST)
    return descriptor;
  descriptor = open_descriptor(name, flags | O_NONBLOCK, 0);
  if (descriptor < 0)
    return -1;
  struct stat info;
  bool regular = fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode);
  if (regular && (info.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return given_up(descriptor);
  }
  // The writes wait for the reader as writes to a pipe do.
  if (!regular) {
    int status_flags = fcntl(descriptor, F_GETFL);
    if (status_flags < 0 || fcntl(descriptor, F_SETFL, status_flags & ~O_NONBLOCK) != 0)
      return given_up(descriptor);
  }
  if (truncate && regular && info.st_size > 0 && ftruncate(descriptor, 0) != 0)
    return given_up(descriptor);
  return descriptor;
}

} // namespace

int open_file(const nchar *name, OpenMode mode, ShareMode share, uint32_t permissions) {
  (void)share; // POSIX has no share modes
  switch (mode) {
  case open_read:
    return open_descriptor(name, O_RDONLY | O_CLOEXEC, 0);
  case open_write_truncate:
    return open_for_writing(name, O_WRONLY | O_CLOEXEC, true, permissions);
  case open_append:
    return open_for_writing(name, O_RDWR | O_APPEND | O_CLOEXEC, false, permissions);
  }
  errno = EINVAL;
  return -1;
}

int32_t read_file(int descriptor, void *buffer, uint32_t count) {
  ssize_t done;
  do {
    done = read(descriptor, buffer, count);
  } while (done < 0 && errno == EINTR);
  return int32_t(done);
}

int32_t write_file(int descriptor, const void *buffer, uint32_t count) {
  ssize_t done;
  do {
    done = write(descriptor, buffer, count);
  } while (done < 0 && errno == EINTR);
  return int32_t(done);
}

int64_t seek_file(int descriptor, int64_t offset) {
  return int64_t(lseek(descriptor, off_t(offset), SEEK_SET));
}

int64_t file_length(int descriptor) {
  struct stat info;
  if (fstat(descriptor, &info) != 0)
    return -1;
  return int64_t(info.st_size);
}

int file_extent(int descriptor, int64_t offset, int64_t *end) {
  off_t data = lseek(descriptor, off_t(offset), SEEK_DATA);
  if (data < 0) {
    if (errno != ENXIO)
      return -1;
    // No data follows: a hole up to the end as it is now, or the end,
    // which only a read may find (the file may have grown or shrunk).
    struct stat info;
    if (fstat(descriptor, &info) != 0)
      return -1;
    bool hole = offset < int64_t(info.st_size);
    *end = hole ? int64_t(info.st_size) : INT64_MAX;
    return hole ? 1 : 0;
  }
  if (data > off_t(offset)) {
    *end = int64_t(data);
    return 1;
  }
  off_t hole = lseek(descriptor, off_t(offset), SEEK_HOLE);
  if (hole < 0)
    return -1;
  *end = int64_t(hole);
  return 0;
}

// A descriptor that appends places every write at the new end all the
// same, so one way serves both kinds of output.
int extend_file(int descriptor, int64_t count) {
  off_t end = lseek(descriptor, off_t(count), SEEK_END);
  if (end < 0)
    return -1;
  int result;
  do {
    result = ftruncate(descriptor, end);
  } while (result != 0 && errno == EINTR);
  return result;
}

namespace {
void forget_watched_descriptor(int descriptor); // the interruption's watch
} // namespace

int close_file(int descriptor) {
  forget_watched_descriptor(descriptor);
  return close(descriptor);
}

int64_t stream_length(const nchar *name) {
  int descriptor = open_file(name, open_read, share_deny_none, 0);
  if (descriptor < 0)
    return -1;
  int64_t length = file_length(descriptor);
  close(descriptor);
  return length;
}

// ----------------------------------------------- names the program makes

namespace {

// The open of a name the program makes itself: exclusive, and never through
// a link (with O_EXCL a link at the name is refused by itself; O_NOFOLLOW
// says so twice).
int open_new(const char *name, int flags, uint32_t permissions, FileIdentity *made) {
  int descriptor =
      open_descriptor(name, flags | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
  if (descriptor < 0)
    return -1;
  struct stat info;
  if (fstat(descriptor, &info) == 0) {
    made->device = uint64_t(info.st_dev);
    made->file_index = uint64_t(info.st_ino);
  }
  return descriptor;
}

} // namespace

int create_new_file(const nchar *name, uint32_t permissions, FileIdentity *made) {
  return open_new(name, O_WRONLY, permissions, made);
}

int rename_made_file(const nchar *from, const nchar *to, const FileIdentity &made) {
  struct stat info;
  Lookup lookup = lookup_of(from);
  if (fstatat(lookup.directory, lookup.name, &info, AT_SYMLINK_NOFOLLOW) != 0)
    return -1;
  if (!S_ISREG(info.st_mode) || uint64_t(info.st_dev) != made.device ||
      uint64_t(info.st_ino) != made.file_index) {
    errno = ENOENT;
    return -1;
  }
  // The file made is a plain file; the one it replaces may be a link.
  if (!names_no_link(lookup_of(to)))
    forget_kept_directories();
  return rename(from, to);
}

NameStanding name_standing(const nchar *name) {
  struct stat info;
  if (lstat(name, &info) != 0)
    return errno == ENOENT ? name_missing : name_refused;
  if (S_ISREG(info.st_mode) && info.st_uid == geteuid())
    return name_own_file;
  errno = S_ISLNK(info.st_mode) ? ELOOP : S_ISDIR(info.st_mode) ? EISDIR : EACCES;
  return name_refused;
}

uint32_t random_number() {
  uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) == ssize_t(sizeof value))
    return value;
  // Without the kernel's generator the name is still made exclusively.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return uint32_t(now.tv_nsec) ^ uint32_t(getpid()) << 16;
}

// ------------------------------------------------------- text streams

struct TextStream {
  FILE *file;
  LineReader reader;
  // Bytes still to read of a file read as a list: only what it held when
  // opened, so a list that is also the run's own log can't grow under its
  // reader without end. -1: no such bound (a pipe, a terminal).
  int64_t left;
  int read_error = 0; // why a read failed, until a line read tells it
};

namespace {

// The bytes a list file holds as it is opened: its size, or, where its
// status says it is empty, what reads give, counted once before the file is
// read again from its start (files of /proc say they are empty and hold
// text). -1 when that can't be told: the reads then meet what stopped it.
int64_t bytes_held(FILE *file, const struct stat &info) {
  if (info.st_size > 0)
    return int64_t(info.st_size);
  int64_t count = 0;
  while (std::getc(file) != EOF)
    ++count;
  bool counted = !std::ferror(file);
  if (std::fseek(file, 0, SEEK_SET) != 0)
    return 0;
  return counted ? count : -1;
}

TextStream *new_text_stream(FILE *file, int64_t left) {
  TextStream *stream = new TextStream;
  stream->file = file;
  stream->left = left;
  return stream;
}

} // namespace

TextStream *open_text(const nchar *name, TextMode mode) {
  const char *how = mode == text_read ? "rb" : mode == text_append ? "ab" : "wb";
  FILE *file = std::fopen(name, how);
  if (!file)
    return nullptr;
  struct stat info;
  int64_t left = -1;
  bool examined = mode == text_read && fstat(fileno(file), &info) == 0;
  // The C library opens a directory for reading and only its reads fail; a
  // list name that is a directory must not read as an empty list.
  if (examined && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    errno = EISDIR;
    return nullptr;
  }
  if (examined && S_ISREG(info.st_mode))
    left = bytes_held(file, info);
  return new_text_stream(file, left);
}

namespace {

// The next byte of the file, within its bound.
int next_file_byte(TextStream *stream) {
  if (stream->left == 0)
    return EOF;
  int c = std::getc(stream->file);
  if (c == EOF && std::ferror(stream->file)) {
    // A failed read ends the text: a line cut short there is no name.
    stream->read_error = errno != 0 ? errno : EIO;
    stream->left = 0;
  }
  if (c != EOF && stream->left > 0)
    --stream->left;
  return c;
}

} // namespace

// Names are bytes: those of an 8-bit or UTF-8 text as they are, a UTF-16
// text's in UTF-8, the encoding of names on every system that has one.
int read_text_line(TextStream *stream, nchar *line, int capacity) {
  // No name takes fewer bytes than UTF-16 units, so a line of more units
  // than the buffer holds is too long for it.
  TextLine text = read_line_units(
      &stream->reader, [stream] { return next_file_byte(stream); }, size_t(capacity));
  if (stream->read_error != 0) {
    errno = stream->read_error;
    stream->read_error = 0;
    return text_line_unreadable;
  }
  std::string bytes;
  if (stream->reader.encoding == text_utf16_le || stream->reader.encoding == text_utf16_be) {
    if (!utf8_of_utf16(text.units, &bytes))
      return text.cut ? text_line_too_long : text_line_not_text;
  } else {
    bytes = bytes_of_units(text.units);
  }
  return deliver_text_line(bytes, text.cut, line, capacity, text_line_too_long);
}

namespace {

// A text stream to write on a descriptor of a new file; the descriptor is
// closed when no stream can be had.
TextStream *text_of_descriptor(int descriptor) {
  FILE *file = fdopen(descriptor, "wb");
  if (!file) {
    int error = errno;
    close(descriptor);
    errno = error;
    return nullptr;
  }
  return new_text_stream(file, -1);
}

} // namespace

// A file open for writing is renamed by its name like any other.
TextStream *create_new_text_over(const nchar *fresh, const nchar *name) {
  FileIdentity made;
  int descriptor = open_new(fresh, O_WRONLY, 0666, &made);
  if (descriptor < 0)
    return nullptr;
  if (rename_made_file(fresh, name, made) != 0) {
    int error = errno;
    close(descriptor);
    remove_file(fresh);
    errno = error;
    return nullptr;
  }
  return text_of_descriptor(descriptor);
}

int write_text(TextStream *stream, const char *text, size_t length) {
  errno = 0;
  return std::fwrite(text, 1, length, stream->file) == length ? 0 : text_failure();
}

int flush_text(TextStream *stream) {
  errno = 0;
  return std::fflush(stream->file) == 0 ? 0 : text_failure();
}

// The runtime's close tells only of what it hands over itself; the error
// mark tells of a write lost before.
int close_text(TextStream *stream) {
  errno = 0;
  bool lost = std::ferror(stream->file) != 0;
  bool closed = std::fclose(stream->file) == 0;
  int error_number = errno;
  delete stream;
  errno = error_number;
  return closed && !lost ? 0 : text_failure();
}

// ------------------------------------------------------------ console

namespace {

// True when standard output is a terminal.
bool output_is_terminal() {
  static int answer = -1;
  if (answer < 0)
    answer = isatty(STDOUT_FILENO) ? 1 : 0;
  return answer == 1;
}

} // namespace

void console_write(ConsoleStream stream, const char *text, size_t length) {
  if (stream == console_error) {
    // Keep the order of the two streams when they share a terminal or file.
    std::fflush(stdout);
    std::fwrite(text, 1, length, stderr);
    return;
  }
  std::fwrite(text, 1, length, stdout);
  // Output to a file or a pipe is handed over a line at a time, so that
  // `tail -f` follows the run and an interrupted run keeps every line it
  // finished; a terminal gets every piece at once, progress figures too.
  if (output_is_terminal() || std::memchr(text, '\n', length) != nullptr)
    std::fflush(stdout);
}

void console_flush() { std::fflush(stdout); }

std::string narrow_text(const nchar *text) { return text; }

// ------------------------------------------------- errors and time

std::string error_text(int error_number) { return std::strerror(error_number); }

std::string system_message(int code) { return std::strerror(code); }

uint32_t milliseconds_now() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

int64_t wall_seconds() { return int64_t(std::time(nullptr)); }

// A pause of 0 does nothing: the fair scheduler already shares the
// processor, and a yield there gives away whole time slices, which made a
// copy on a busy machine many times slower.
void pause_milliseconds(uint32_t milliseconds) {
  if (milliseconds == 0)
    return;
  struct timespec wait;
  wait.tv_sec = time_t(milliseconds / 1000);
  wait.tv_nsec = long(milliseconds % 1000) * 1000000L;
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

// The millisecond clock needs no resolution request here.
void begin_timer_resolution() {}
void end_timer_resolution() {}

std::string local_time_text() {
  std::time_t now = std::time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d\n", days[local.tm_wday],
                months[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                local.tm_year + 1900);
  return text;
}

// ------------------------------------------------ memory and process

void *allocate_memory(size_t size) { return std::malloc(size); }

void free_memory(void *block) { std::free(block); }

void exit_process(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::exit(code);
}

namespace {

// The value of an environment variable, or false when it is not set.
bool environment_value(const char *name, nstring *value) {
  const char *found = std::getenv(name);
  if (!found)
    return false;
  *value = found;
  return true;
}

} // namespace

// ------------------------------------------------------- file versions

namespace {

bool read_at_descriptor(void *context, uint64_t offset, void *buffer, size_t count) {
  int descriptor = *static_cast<int *>(context);
  size_t done = 0;
  while (done < count) {
    ssize_t step =
        pread(descriptor, static_cast<char *>(buffer) + done, count - done, off_t(offset + done));
    if (step < 0 && errno == EINTR)
      continue;
    if (step <= 0)
      return false;
    done += size_t(step);
  }
  return true;
}

} // namespace

// Windows executables kept here carry their version resource as on Windows.
void read_file_version(const nchar *name, uint32_t *most, uint32_t *least) {
  *most = 0;
  *least = 0;
  // Without waiting: opening a pipe for reading would wait for a writer.
  int descriptor = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (descriptor < 0)
    return;
  // Only a file can be an image; a device or pipe has version 0.0.
  struct stat info;
  uint32_t found_most = 0, found_least = 0;
  if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
      read_image_version(read_at_descriptor, &descriptor, &found_most, &found_least)) {
    *most = found_most;
    *least = found_least;
  }
  close(descriptor);
}

// --------------------------------------------------- the platform copy

namespace {

void copy_extended_attributes(int input, int output) {
  ssize_t size = flistxattr(input, nullptr, 0);
  if (size <= 0)
    return;
  std::vector<char> names(static_cast<size_t>(size));
  size = flistxattr(input, names.data(), names.size());
  for (ssize_t i = 0; i < size;) {
    const char *name = names.data() + i;
    ssize_t value_size = fgetxattr(input, name, nullptr, 0);
    if (value_size >= 0) {
      std::vector<char> value(size_t(value_size) + 1);
      value_size = fgetxattr(input, name, value.data(), value.size());
      if (value_size >= 0)
        fsetxattr(output, name, value.data(), size_t(value_size), 0);
    }
    i += ssize_t(std::strlen(name)) + 1;
  }
}

// Writes all of `count` bytes: 0, or the errno of the failure.
int write_whole(int output, const char *data, size_t count) {
  for (size_t written = 0; written < count;) {
    ssize_t step = write(output, data + written, count - written);
    if (step < 0 && errno == EINTR)
      continue;
    if (step <= 0)
      return step == 0 ? ENOSPC : errno;
    written += size_t(step);
  }
  return 0;
}

// The kernel refuses to copy between these two files.
bool cannot_copy_between(int error) {
  return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
         error == EPERM;
}

// The kernel's copy while it moves data and the file's size says more is to
// come. Returns 0 also when the kernel can't copy between these two files
// (the read and write that follow move everything then), or the errno of a
// failure.
int kernel_copy(int input, int output, int64_t total, int64_t *done, CopyProgress progress,
                void *context) {
  while (*done < total) {
    ssize_t moved = copy_file_range(input, nullptr, output, nullptr, size_t(1) << 24, 0);
    if (moved < 0 && errno == EINTR)
      continue;
    if (moved < 0)
      return cannot_copy_between(errno) ? 0 : errno;
    if (moved == 0)
      return 0;
    *done += moved;
    if (progress)
      progress(total, *done, context);
  }
  return 0;
}

// Copies the bytes from `from` to `to` of `input` to the same place in
// `output`: the kernel's copy, else positioned reads and writes. `*done`
// follows: short of `to` when the file ended first. 0, or the errno of a
// failure.
int copy_range(int input, int output, int64_t from, int64_t to, int64_t *done) {
  *done = from;
  static std::vector<char> buffer;
  off_t in = off_t(from), out = off_t(from);
  bool kernel = true;
  while (in < off_t(to)) {
    ssize_t moved;
    if (kernel) {
      moved = copy_file_range(input, &in, output, &out, size_t(to - in), 0);
      if (moved < 0 && cannot_copy_between(errno)) {
        kernel = false;
        continue;
      }
    } else {
      if (buffer.empty())
        buffer.resize(size_t(1) << 20);
      moved = pread(input, buffer.data(), std::min(buffer.size(), size_t(to - in)), in);
      for (ssize_t written = 0; moved > 0 && written < moved;) {
        ssize_t step = pwrite(output, buffer.data() + written, size_t(moved - written), out);
        if (step < 0 && errno == EINTR)
          continue;
        if (step <= 0)
          return step == 0 ? ENOSPC : errno;
        written += step;
        out += step;
      }
      if (moved > 0)
        in += moved;
    }
    if (moved < 0 && errno == EINTR)
      continue;
    if (moved < 0)
      return errno;
    if (moved == 0)
      break; // the file ended early; the reads that follow find its end
    *done = int64_t(in);
  }
  return 0;
}

// Places both files at `position`, where the reads that follow go on: 0, or
// the errno of a failure.
int place_both(int input, int output, int64_t position) {
  if (lseek(input, off_t(position), SEEK_SET) < 0 || lseek(output, off_t(position), SEEK_SET) < 0)
    return errno;
  return 0;
}

// A sparse source: only its data ranges are copied, each to its own place,
// so the holes between them stay holes. A hole at the end is kept only
// when a read shows that the file reaches the length its status says: a
// file of /sys says 4096 bytes, holds a few and takes no disk space, and
// no padding may be made up for it. Both files are left where the reads
// that follow go on to find the end. 0, or the errno of a failure.
int copy_data_ranges(int input, int output, int64_t total, int64_t *done, CopyProgress progress,
                     void *context) {
  int64_t position = *done;
  while (position < total) {
    off_t data = lseek(input, off_t(position), SEEK_DATA);
    if (data < 0 && errno == ENXIO)
      break; // a hole up to the end
    off_t hole = data < 0 ? -1 : lseek(input, data, SEEK_HOLE);
    if (hole < 0)
      return errno;
    int64_t end = std::min(int64_t(hole), total);
    int error = copy_range(input, output, int64_t(data), end, done);
    if (error != 0)
      return error;
    if (*done < end)
      return place_both(input, output, *done); // the file ended early
    position = int64_t(hole);
    if (progress)
      progress(total, std::min(position, total), context);
  }
  char last;
  if (position < total && pread(input, &last, 1, off_t(total - 1)) != 1) {
    *done = position;
    return place_both(input, output, position);
  }
  if (ftruncate(output, off_t(total)) != 0)
    return errno;
  *done = total;
  return place_both(input, output, total);
}

bool is_sparse(int descriptor) {
  struct stat info;
  return fstat(descriptor, &info) == 0 && int64_t(info.st_blocks) * 512 < int64_t(info.st_size);
}

// Moves the rest of `input` to `output`: the kernel's copy first, then read
// and write until a read finds the end. A file's size may say less than it
// holds (/proc, /sys, some network and FUSE files), and the kernel's copy
// then stops early or moves nothing; only a read of 0 bytes ends the copy.
int copy_contents(int input, int output, int64_t total, int64_t done, CopyProgress progress,
                  void *context) {
  int error =
      is_sparse(input) ? copy_data_ranges(input, output, total, &done, progress, context) : 0;
  if (error == 0)
    error = kernel_copy(input, output, total, &done, progress, context);
  if (error != 0)
    return error;
  // One buffer for the run: most files need a single read here, which finds
  // the end at once.
  static std::vector<char> buffer(size_t(1) << 20);
  for (;;) {
    ssize_t moved = read(input, buffer.data(), buffer.size());
    if (moved < 0 && errno == EINTR)
      continue;
    if (moved < 0)
      return errno;
    if (moved == 0)
      return 0;
    error = write_whole(output, buffer.data(), size_t(moved));
    if (error != 0)
      return error;
    done += moved;
    if (progress)
      progress(std::max(total, done), done, context);
  }
}

} // namespace

namespace {
void output_opened(int descriptor); // the interruption's watch

// The mode bits a new file gets: the asked ones less the umask, read once.
mode_t less_umask(mode_t bits) {
  static mode_t mask = [] {
    mode_t current = umask(022);
    umask(current);
    return current;
  }();
  return bits & ~mask;
}

int open_copy_source(const nchar *source, struct stat *info) {
  int input = open(source, O_RDONLY | O_CLOEXEC);
  if (input >= 0 && fstat(input, info) != 0) {
    int error = errno;
    close(input);
    errno = error;
    return -1;
  }
  return input;
}

// Restart: the output keeps what it holds, up to the source's size, and
// both files go on from there. The offset, or -1.
int64_t restart_offset(int input, int output, const struct stat &info) {
  int64_t done = 0;
  struct stat existing;
  if (fstat(output, &existing) == 0 && existing.st_size <= info.st_size)
    done = int64_t(existing.st_size);
  if (lseek(input, off_t(done), SEEK_SET) < 0 || lseek(output, off_t(done), SEEK_SET) < 0 ||
      ftruncate(output, off_t(done)) != 0)
    return -1;
  return done;
}

// Copies the data, the extended attributes, the permission bits (never more
// than a new file may get) and the times; closes both files. `name` is the
// output's, for the times where they are given once it is closed. 0 or
// errno.
int copy_into(int input, int output, const char *name, const struct stat &info, int64_t done,
              CopyProgress progress, void *context) {
  int64_t total = int64_t(info.st_size);
  if (progress)
    progress(total, done, context);
  int error = copy_contents(input, output, total, done, progress, context);
  if (error == 0) {
    copy_extended_attributes(input, output);
    mode_t bits;
    if (bits_for_copy(
            info, [output](struct stat *copy) { return fstat(output, copy); }, &bits) != 0 ||
        fchmod(output, less_umask(bits)) != 0)
      error = errno;
  }
  struct timespec times[2] = {info.st_atim, info.st_mtim};
  bool after_close = !times_outlast_close(output);
  if (error == 0 && !after_close && futimens(output, times) != 0)
    error = errno;
  close(input);
  if (close_file(output) != 0 && error == 0)
    error = errno;
  if (error == 0 && after_close && utimensat(AT_FDCWD, name, times, 0) != 0)
    error = errno;
  return error;
}

} // namespace

int platform_copy_file(const nchar *source, const nchar *destination, bool restartable,
                       CopyProgress progress, void *context) {
  struct stat info;
  int input = open_copy_source(source, &info);
  if (input < 0)
    return errno;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (restartable ? 0 : O_TRUNC);
  int output = refused_as_read_only(destination)
                   ? (errno = EACCES, -1)
                   : open(destination, flags, new_file_bits(info.st_mode));
  if (output < 0) {
    int error = errno;
    close(input);
    return error;
  }
  output_opened(output);
  int64_t done = restartable ? restart_offset(input, output, info) : 0;
  if (done < 0) {
    int error = errno;
    close(input);
    close_file(output);
    return error;
  }
  return copy_into(input, output, destination, info, done, progress, context);
}

int platform_copy_new_file(const nchar *source, const nchar *destination, CopyProgress progress,
                           void *context, FileIdentity *made, bool *taken) {
  *taken = false;
  struct stat info;
  int input = open_copy_source(source, &info);
  if (input < 0)
    return errno;
  // Private while it is written; the copy's own bits come at its end.
  int output = create_new_file(destination, 0600, made);
  if (output < 0) {
    int error = errno;
    *taken = error == EEXIST;
    close(input);
    return error;
  }
  output_opened(output);
  return copy_into(input, output, destination, info, 0, progress, context);
}

// ----------------------------------------------------- the help viewer

nstring help_directory() { return temporary_directory(native_path_style, environment_value, ""); }

namespace {

// Starts the user's pager ($PAGER, else less, else more) on `path`, or on
// its standard input from `input` when `path` is null. The child's status
// is 127 when none of them could be started.
pid_t start_pager(const char *path, int input, int unused_end) {
  const char *chosen = std::getenv("PAGER");
  std::string pager = chosen && *chosen ? chosen : "";
  std::fflush(stdout);
  pid_t child = fork();
  if (child != 0)
    return child;
  if (input >= 0) {
    close(unused_end);
    dup2(input, STDIN_FILENO);
    close(input);
  }
  if (!pager.empty()) {
    std::string command = path ? pager + " \"$1\"" : pager;
    execlp("sh", "sh", "-c", command.c_str(), "sh", path, (char *)nullptr);
  }
  execlp("less", "less", path, (char *)nullptr);
  execlp("more", "more", path, (char *)nullptr);
  _exit(127);
}

// The pager owns the terminal until the user leaves it. Its status.
int wait_for_pager(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Writes the whole text to the pager's pipe, or what it takes before the
// user leaves it: a pager left early is no interruption of the run.
void feed_pager(int output, const std::string &text) {
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t written = write(output, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      break;
    done += size_t(written);
  }
  close(output);
  sigaction(SIGPIPE, &previous, nullptr);
}

} // namespace

void show_help_file(const nchar *path) {
  if (!output_is_terminal())
    return;
  pid_t child = start_pager(path, -1, -1);
  if (child > 0)
    wait_for_pager(child);
}

bool show_help_text(const std::string &text) {
  int ends[2];
  if (!output_is_terminal() || pipe(ends) != 0)
    return false;
  pid_t child = start_pager(nullptr, ends[0], ends[1]);
  close(ends[0]);
  if (child < 0) {
    close(ends[1]);
    return false;
  }
  feed_pager(ends[1], text);
  int status = wait_for_pager(child);
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

bool help_text_to_output() { return !output_is_terminal(); }

// ------------------------------------------------- the progress window

// The terminal's own progress indicator stands in for the progress window:
// the title shows the caption and the progress sequence follows the figure.
namespace {
// Read by the interruption handler too.
volatile sig_atomic_t indicator_open = 0;
const char kIndicatorCleared[] = "\033]9;4;0;0\007\033]0;\007";

// A terminal that names itself "dumb", or names nothing, may print the
// escape sequences as text.
bool terminal_takes_sequences() {
  const char *name = std::getenv("TERM");
  return name && *name && std::strcmp(name, "dumb") != 0;
}

void terminal_sequence(const std::string &sequence) {
  std::fwrite(sequence.data(), 1, sequence.size(), stdout);
  std::fflush(stdout);
}
} // namespace

int progress_window_open(const nchar *caption) {
  if (!output_is_terminal() || !terminal_takes_sequences())
    return 0;
  terminal_sequence(std::string("\033]0;") + caption + "\007\033]9;4;1;0\007");
  indicator_open = 1;
  return 1;
}

void progress_window_position(int percent) {
  if (!indicator_open)
    return;
  terminal_sequence("\033]9;4;1;" + std::to_string(percent) + "\007");
}

void progress_window_close() {
  if (!indicator_open)
    return;
  terminal_sequence(kIndicatorCleared);
  indicator_open = 0;
}

// -------------------------------------------------------- interruption

namespace {

// What the signal handler needs to put right the copy in progress. The
// handler runs on the one thread it interrupts, so the fields are made
// whole before `active` is set and `active` is cleared before they change;
// the handler does only async-signal-safe work.
struct OutputWatch {
  volatile sig_atomic_t active;
  volatile sig_atomic_t opened;
  volatile sig_atomic_t temporary;
  volatile sig_atomic_t descriptor;
  time_t mark; // a plain output's modification time after an interruption
  char name[kPathCapacity];
};

OutputWatch output_watch = {0, 0, 0, -1, 0, {0}};

// SIGQUIT (Ctrl-\) and SIGPIPE are among them: a quit from the keyboard,
// or a reader of the output that went away (`| head`), would otherwise end
// the process in the middle of a copy with nothing put right.
const int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// While a temporary file is being made the interruptions wait: a signal that
// came during the open would otherwise be handled after the file exists and
// before the watch knows it was made, and leave it behind.
sigset_t mask_before_hold;
bool interruptions_held = false;

void hold_interruptions() {
  sigset_t interruptions;
  sigemptyset(&interruptions);
  for (int signal_number : kInterruptSignals)
    sigaddset(&interruptions, signal_number);
  interruptions_held = sigprocmask(SIG_BLOCK, &interruptions, &mask_before_hold) == 0;
}

// A signal that waited is handled now, with the watch complete.
void release_interruptions() {
  if (!interruptions_held)
    return;
  interruptions_held = false;
  sigprocmask(SIG_SETMASK, &mask_before_hold, nullptr);
}

void put_right_output() {
  if (!output_watch.active || !output_watch.opened)
    return;
  if (output_watch.temporary) {
    unlink(output_watch.name);
    return;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = output_watch.mark;
  times[1].tv_nsec = 0;
  if (output_watch.descriptor >= 0)
    futimens(output_watch.descriptor, times);
  else
    utimensat(AT_FDCWD, output_watch.name, times, 0);
}

void on_interrupt(int signal_number) {
  put_right_output();
  if (indicator_open) {
    ssize_t ignored = write(STDOUT_FILENO, kIndicatorCleared, sizeof kIndicatorCleared - 1);
    (void)ignored;
  }
  _exit(128 + signal_number);
}

// A closed descriptor's number may be reused at once: from here on the
// output is known by its name only.
void forget_watched_descriptor(int descriptor) {
  if (output_watch.descriptor == descriptor)
    output_watch.descriptor = -1;
}

// The platform copy opened its output itself.
void output_opened(int descriptor) {
  output_watch.descriptor = descriptor;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  output_watch.opened = 1;
  release_interruptions();
}

} // namespace

void install_interrupt_handlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kInterruptSignals)
    sigaddset(&action.sa_mask, signal_number);
  for (int signal_number : kInterruptSignals) {
    struct sigaction previous;
    // nohup and background jobs start with some of them ignored on purpose.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
      continue;
    sigaction(signal_number, &action, nullptr);
  }
  // A write beyond the file-size limit then fails with EFBIG and is handled
  // as any failed write, where the signal's default would end the process
  // half-way through a copy (and leave a core).
  signal(SIGXFSZ, SIG_IGN);
}

void watch_output(const nchar *name, int descriptor, bool temporary, FileTime partial_mark) {
  output_watch.active = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  size_t length = std::strlen(name);
  if (length >= sizeof output_watch.name)
    return; // no such name was opened
  if (temporary && descriptor < 0 && !interruptions_held)
    hold_interruptions();
  std::memcpy(output_watch.name, name, length + 1);
  output_watch.temporary = temporary ? 1 : 0;
  output_watch.mark = time_t(partial_mark.seconds);
  output_watch.descriptor = descriptor;
  output_watch.opened = descriptor >= 0 ? 1 : 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  output_watch.active = 1;
  if (descriptor >= 0)
    release_interruptions();
}

void end_output_watch() {
  output_watch.active = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  release_interruptions();
}

} // namespace zorov

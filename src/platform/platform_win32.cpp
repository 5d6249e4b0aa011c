// The Windows platform layer: the C runtime's wide-character file services
// (so that errno carries the runtime's reasons), and the Win32 services for
// what the runtime lacks: file identity, attributes, version resources, the
// system's whole-file copy, the multimedia timer and the progress window.

// rand_s, the runtime's generator of unguessable numbers.
#define _CRT_RAND_S
#include "platform/platform.h"

#include "platform/console_hook.h"
#include "platform/made_names.h"
#include "platform/name_rules.h"
#include "platform/path_syntax.h"
#include "platform/text_lines.h"

#include <windows.h>

#include <commctrl.h>
#include <mmsystem.h>
#include <winver.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <io.h>
#include <new>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/utime.h>
#include <vector>

namespace zorov {

// ---------------------------------------------------------------- helpers

namespace {

// errno for a Win32 error code of the services that bypass the runtime.
int errno_for_system_error(DWORD code) {
  switch (code) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_INVALID_DRIVE:
  case ERROR_BAD_NETPATH:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_SHARING_VIOLATION:
  case ERROR_LOCK_VIOLATION:
  case ERROR_WRITE_PROTECT:
    return EACCES;
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    return EEXIST;
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return ENOSPC;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY:
    return ENOMEM;
  case ERROR_FILENAME_EXCED_RANGE:
    return ENAMETOOLONG;
  default:
    return EINVAL;
  }
}

void set_errno_from_last_error() { errno = errno_for_system_error(GetLastError()); }

std::string narrow_ascii(const wchar_t *text, size_t length) {
  std::string narrow;
  for (size_t i = 0; i < length; ++i)
    narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
  return narrow;
}

// UTF-16 to the narrow set of `code_page`; characters the set lacks become
// '?' rather than a look-alike, so that no name turns into the name of some
// other file ('?' is in no Windows name). Code pages that refuse the '?'
// request (UTF-8 and a few others) convert without it.
std::string narrow_in(UINT code_page, const wchar_t *text, size_t length) {
  if (length == 0)
    return std::string();
  int count = static_cast<int>(length);
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char *fallback = "?";
  int size = WideCharToMultiByte(code_page, flags, text, count, nullptr, 0, fallback, nullptr);
  if (size <= 0) {
    flags = 0;
    fallback = nullptr;
    size = WideCharToMultiByte(code_page, flags, text, count, nullptr, 0, fallback, nullptr);
  }
  if (size <= 0)
    return narrow_ascii(text, length);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(code_page, flags, text, count, &narrow[0], size, fallback, nullptr);
  return narrow;
}

std::string narrow_in(UINT code_page, const wchar_t *text) {
  return text == nullptr ? std::string() : narrow_in(code_page, text, wcslen(text));
}

// The program's narrow text is UTF-8, which holds every name; it becomes the
// character set of where it goes only when it leaves.
std::wstring wide_of_utf8(const char *text, size_t length) {
  if (length == 0)
    return std::wstring();
  int count = static_cast<int>(length);
  int size = MultiByteToWideChar(CP_UTF8, 0, text, count, nullptr, 0);
  if (size <= 0)
    return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, count, &wide[0], size);
  return wide;
}

bool is_ascii(const char *text, size_t length) {
  for (size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80)
      return false;
  return true;
}

// Files and redirected output hold the ANSI code page, whatever the console
// shows: that is what other programs, and this one's response files, read.
std::string ansi_of_utf8(const char *text, size_t length) {
  if (is_ascii(text, length))
    return std::string(text, length);
  std::wstring wide = wide_of_utf8(text, length);
  return narrow_in(CP_ACP, wide.data(), wide.size());
}

// An ANSI response-file line as wide text. Bytes that are no character of
// the code page become '?', which names no file.
std::wstring wide_of_ansi(const char *text, size_t length) {
  int count = static_cast<int>(length);
  int size =
      length == 0 ? 0 : MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, count, nullptr, 0);
  if (size <= 0) {
    std::wstring wide;
    for (size_t i = 0; i < length; ++i)
      wide.push_back(static_cast<unsigned char>(text[i]) < 0x80 ? wchar_t(text[i]) : L'?');
    return wide;
  }
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, count, &wide[0], size);
  return wide;
}

// A bare drive names its current directory, but the runtime's status query
// refuses it and wine's opening takes it for the root: the full name of
// "Q:." says which directory is meant (that of "Q:" ends in a separator,
// which the status query refuses too).
const wchar_t *name_meant(const wchar_t *name, nstring *full) {
  bool bare_drive = name[0] != L'\0' && name[1] == L':' && name[2] == L'\0';
  const wchar_t current[] = {name[0], L':', L'.', L'\0'};
  if (bare_drive && resolve_full_path(current, full) == 0)
    return full->c_str();
  return name;
}

// The current directory of the drive `name` names (the process's own for a
// name without a drive), or false.
bool current_directory_of(const std::wstring &name, std::wstring *current) {
  std::vector<wchar_t> buffer(32767);
  DWORD capacity = static_cast<DWORD>(buffer.size());
  const wchar_t here[] = {name.empty() ? L'\0' : name[0], L':', L'.', L'\0'};
  DWORD length = drive_prefix_length(name, path_style_windows) == 2
                     ? GetFullPathNameW(here, capacity, buffer.data(), nullptr)
                     : GetCurrentDirectoryW(capacity, buffer.data());
  if (length == 0 || length >= capacity)
    return false;
  current->assign(buffer.data(), length);
  return true;
}

// The full name of a name that Win32 would trim, made by text alone so that
// nothing of it is trimmed. A network name is full already.
bool resolve_untrimmed(const std::wstring &name, std::wstring *full) {
  if (name.size() >= 2 && is_separator(name[0], path_style_windows) &&
      is_separator(name[1], path_style_windows)) {
    *full = name;
    return true;
  }
  std::wstring current;
  if (!current_directory_of(name, &current))
    return false;
  if (current.size() >= 2 && current[0] == L'\\' && current[1] == L'\\') {
    // Below a network directory: its names are joined to it as they are.
    *full = join_path(current, name.substr(size_t(drive_prefix_length(name, path_style_windows))),
                      path_style_windows);
    return true;
  }
  *full = resolve_by_text(current, name, path_style_windows);
  return true;
}

// The name the system is given for one of the program's names: the name
// itself, or its verbatim form where Win32 would trim it ("x." would open
// "x") or where it is verbatim already (its "/" would be no separator).
const wchar_t *system_name(const wchar_t *name, std::wstring *held) {
  std::wstring text(name);
  std::wstring full;
  if (is_verbatim_name(text, path_style_windows)) {
    if (text.find(L'/') == std::wstring::npos)
      return name;
    *held = verbatim_form(text);
  } else if (trimmed_by_win32(text, path_style_windows) && resolve_untrimmed(text, &full)) {
    *held = verbatim_form(full);
  } else {
    return name;
  }
  return held->c_str();
}

// The same for a search pattern, whose final component is a pattern: only
// its directory decides, and there the pattern "*.*", which names every
// entry, is given as "*".
const wchar_t *system_pattern(const wchar_t *pattern, std::wstring *held) {
  std::wstring text(pattern);
  PathParts<wchar_t> parts = split_path(text, path_style_windows);
  std::wstring directory = parts.drive + parts.directory;
  std::wstring final_component = parts.name + parts.extension;
  std::wstring directory_held;
  const wchar_t *system_directory = system_name(directory.c_str(), &directory_held);
  if (system_directory == directory.c_str() && !is_verbatim_name(text, path_style_windows))
    return pattern;
  if (final_component == L"*.*")
    final_component = L"*";
  *held = system_directory + final_component;
  return held->c_str();
}

// 100-nanosecond steps from 1601-01-01, where the system's file times
// begin, to 1970-01-01.
const int64_t kEpochInFileTime = 116444736000000000ll;

// A time in the system's form. Times before 1970 are times like any other
// there, where the runtime's time conversions refuse them.
FILETIME system_file_time(FileTime time) {
  ULARGE_INTEGER value;
  value.QuadPart = uint64_t(kEpochInFileTime + time.seconds * 10000000ll + time.nanoseconds / 100);
  FILETIME converted;
  converted.dwLowDateTime = value.LowPart;
  converted.dwHighDateTime = value.HighPart;
  return converted;
}

FileTime time_of(const FILETIME &time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  int64_t steps = int64_t(value.QuadPart) - kEpochInFileTime;
  int64_t seconds = steps / 10000000, rest = steps % 10000000;
  if (rest < 0) {
    rest += 10000000;
    seconds -= 1;
  }
  FileTime converted;
  converted.seconds = seconds;
  converted.nanoseconds = int32_t(rest * 100);
  return converted;
}

// Sets the times given (a null one stays as it is) through a handle that
// asks for no data access, so that no other opener's sharing refuses it;
// false with errno.
bool set_times_by_name(const wchar_t *name, const FILETIME *accessed, const FILETIME *modified) {
  HANDLE file = CreateFileW(name, FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return false;
  }
  BOOL set = SetFileTime(file, nullptr, accessed, modified);
  if (!set)
    set_errno_from_last_error();
  CloseHandle(file);
  return set != FALSE;
}

// The status of a verbatim name, which the runtime's status query refuses
// (it takes the "?" for a wildcard): from the name's attributes.
int status_by_attributes(const wchar_t *name, FileStatus *status) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(name, GetFileExInfoStandard, &data)) {
    set_errno_from_last_error();
    return -1;
  }
  *status = FileStatus();
  status->size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  status->access_time.seconds = time_of(data.ftLastAccessTime).seconds;
  status->modification_time.seconds = time_of(data.ftLastWriteTime).seconds;
  status->change_time.seconds = time_of(data.ftCreationTime).seconds;
  status->is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status->is_regular = !status->is_directory;
  status->read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  return 0;
}

// Volume serial number and file index of a file or directory; the handle asks
// for no data access, so no sharing request of another opener refuses it.
bool read_file_identity(const wchar_t *name, BY_HANDLE_FILE_INFORMATION *information) {
  HANDLE file = CreateFileW(name, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  BOOL read = GetFileInformationByHandle(file, information);
  CloseHandle(file);
  return read != FALSE;
}

uint64_t file_index_of(const BY_HANDLE_FILE_INFORMATION &information) {
  return (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
}

} // namespace

// ---------------------------------------------------------------- status

namespace {

// The runtime's status query knows no devices, where the full-path rules
// put NUL, CON, COM1 and the like: such a name that opens as a character
// device or a pipe is neither a regular file nor a directory. -1 with the
// query's errno for anything else.
int device_status(const wchar_t *name, FileStatus *status) {
  int error_number = errno;
  if (!in_device_namespace(nstring(name), native_path_style))
    return -1;
  HANDLE device =
      CreateFileW(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD type = device == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(device);
  if (device != INVALID_HANDLE_VALUE)
    CloseHandle(device);
  if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
    errno = error_number;
    return -1;
  }
  *status = FileStatus();
  return 0;
}

} // namespace

int file_status(const nchar *name, FileStatus *status) {
  nstring full;
  std::wstring held;
  name = system_name(name_meant(name, &full), &held);
  if (is_verbatim_name(std::wstring(name), path_style_windows)) {
    if (status_by_attributes(name, status) != 0)
      return -1;
  } else {
    struct _stat64 data;
    if (_wstat64(name, &data) != 0)
      return device_status(name, status);
    *status = FileStatus();
    status->size = data.st_size;
    status->access_time.seconds = data.st_atime;
    status->modification_time.seconds = data.st_mtime;
    status->change_time.seconds = data.st_ctime;
    status->is_directory = (data.st_mode & _S_IFMT) == _S_IFDIR;
    status->is_regular = (data.st_mode & _S_IFMT) == _S_IFREG;
    status->read_only = (data.st_mode & _S_IWRITE) == 0;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (read_file_identity(name, &information)) {
    status->device = information.dwVolumeSerialNumber;
    status->file_index = file_index_of(information);
    // The system's own times, where the runtime's know nothing before 1970.
    status->access_time = time_of(information.ftLastAccessTime);
    status->modification_time = time_of(information.ftLastWriteTime);
  }
  return 0;
}

// ------------------------------------------------------- full-path names

int resolve_full_path(const nchar *name, nstring *full) {
  // The system's resolver would trim such names, and has no rules for a
  // verbatim one: they are full by text.
  std::wstring text(name);
  bool verbatim = is_verbatim_name(text, path_style_windows);
  if (verbatim || trimmed_by_win32(text, path_style_windows)) {
    std::wstring resolved;
    if (verbatim) {
      resolved = verbatim_form(text);
    } else if (!resolve_untrimmed(text, &resolved)) {
      errno = ENOENT;
      return -1;
    }
    if (!fits_path_buffer(resolved.size())) {
      errno = ENAMETOOLONG;
      return -1;
    }
    *full = resolved;
    return 0;
  }
  // The longest name the system has, so that an over-long result is
  // measured and refused rather than cut. One character more no longer fits
  // the system's 16-bit byte counts, and wine then fills the buffer with
  // garbage for a drive-relative name.
  std::vector<wchar_t> buffer(32767);
  DWORD capacity = static_cast<DWORD>(buffer.size());
  DWORD length = *name == L'\0' ? GetCurrentDirectoryW(capacity, buffer.data())
                                : GetFullPathNameW(name, capacity, buffer.data(), nullptr);
  if (length == 0) {
    set_errno_from_last_error();
    return -1;
  }
  // A result that doesn't fit comes back as the size it needs, and the
  // buffer holds no name.
  if (length >= capacity || !fits_path_buffer(length)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  full->assign(buffer.data(), length);
  return 0;
}

// ------------------------------------------------------ directory search

struct DirectorySearch {
  intptr_t handle;
};

namespace {

void fill_entry(const struct _wfinddata64_t &data, DirectoryEntry *entry) {
  entry->name = data.name;
  entry->attributes = data.attrib;
}

} // namespace

DirectorySearch *search_first(const nchar *pattern, DirectoryEntry *entry) {
  struct _wfinddata64_t data;
  std::wstring held;
  intptr_t handle = _wfindfirst64(system_pattern(pattern, &held), &data);
  if (handle == -1)
    return nullptr;
  DirectorySearch *search = new (std::nothrow) DirectorySearch;
  if (search == nullptr) {
    _findclose(handle);
    errno = ENOMEM;
    return nullptr;
  }
  search->handle = handle;
  fill_entry(data, entry);
  return search;
}

int search_next(DirectorySearch *search, DirectoryEntry *entry) {
  struct _wfinddata64_t data;
  if (_wfindnext64(search->handle, &data) != 0)
    return errno == ENOENT ? 0 : -1;
  fill_entry(data, entry);
  return 1;
}

void search_close(DirectorySearch *search) {
  if (search == nullptr)
    return;
  _findclose(search->handle);
  delete search;
}

// ------------------------------------------------- names on the disk

int make_directory(const nchar *name) {
  std::wstring held;
  return _wmkdir(system_name(name, &held));
}

int remove_file(const nchar *name) {
  std::wstring held;
  return _wunlink(system_name(name, &held));
}

int rename_file(const nchar *from, const nchar *to) {
  std::wstring from_held, to_held;
  return _wrename(system_name(from, &from_held), system_name(to, &to_held));
}

int make_writable(const nchar *name) {
  std::wstring held;
  return _wchmod(system_name(name, &held), _S_IREAD | _S_IWRITE);
}

namespace {
bool refused_as_read_only(const wchar_t *name);
} // namespace

// Through the system, which takes times before 1970 as the runtime does not;
// a read-only file is refused as the runtime refuses it.
int set_file_times(const nchar *name, FileTime access, FileTime modification) {
  std::wstring held;
  name = system_name(name, &held);
  if (refused_as_read_only(name)) {
    errno = EACCES;
    return -1;
  }
  FILETIME accessed = system_file_time(access);
  FILETIME modified = system_file_time(modification);
  return set_times_by_name(name, &accessed, &modified) ? 0 : -1;
}

// Times go by name after the close, as the runtime sets them.
int set_open_file_times(int descriptor, FileTime access, FileTime modification) {
  (void)descriptor;
  (void)access;
  (void)modification;
  errno = ENOSYS;
  return -1;
}

int copy_file_attributes(const nchar *source, const nchar *written) {
  std::wstring source_held, written_held;
  source = system_name(source, &source_held);
  written = system_name(written, &written_held);
  DWORD attributes = GetFileAttributesW(source);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    set_errno_from_last_error();
    return -1;
  }
  if (!SetFileAttributesW(written, attributes | FILE_ATTRIBUTE_ARCHIVE)) {
    set_errno_from_last_error();
    return -1;
  }
  return 0;
}

// ------------------------------------------------- file descriptors

namespace {

// The read-only attribute refuses writers by itself, except where the file
// system beneath does not keep it (emulation run by an administrator): the
// refusal is made here as well, so that a read-only file is never truncated.
bool refused_as_read_only(const wchar_t *name) {
  DWORD attributes = GetFileAttributesW(name);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

} // namespace

int open_file(const nchar *name, OpenMode mode, ShareMode share, uint32_t permissions) {
  (void)permissions; // a new Windows file is always readable and writable
  std::wstring held;
  name = system_name(name, &held);
  if (mode != open_read && refused_as_read_only(name)) {
    errno = EACCES;
    return -1;
  }
  int flags = _O_BINARY;
  if (mode == open_read)
    flags |= _O_RDONLY;
  else if (mode == open_write_truncate)
    flags |= _O_WRONLY | _O_CREAT | _O_TRUNC;
  else
    flags |= _O_RDWR | _O_CREAT | _O_APPEND;
  int sharing = _SH_DENYRW;
  if (share == share_deny_write)
    sharing = _SH_DENYWR;
  else if (share == share_deny_none)
    sharing = _SH_DENYNO;
  int descriptor = -1;
  errno_t error = _wsopen_s(&descriptor, name, flags, sharing, _S_IREAD | _S_IWRITE);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return descriptor;
}

int32_t read_file(int descriptor, void *buffer, uint32_t count) {
  return _read(descriptor, buffer, count);
}

int32_t write_file(int descriptor, const void *buffer, uint32_t count) {
  // The runtime turns a write that moved nothing without a system error into
  // -1 with ENOSPC; the callers expect the count of 0 and decide themselves.
  _doserrno = 0;
  int written = _write(descriptor, buffer, count);
  if (written < 0 && errno == ENOSPC && _doserrno == 0)
    return 0;
  return written;
}

int64_t seek_file(int descriptor, int64_t offset) {
  return _lseeki64(descriptor, offset, SEEK_SET);
}

int64_t file_length(int descriptor) { return _filelengthi64(descriptor); }

// Holes are not looked for here: every file is read as data.
int file_extent(int descriptor, int64_t offset, int64_t *end) {
  (void)descriptor;
  (void)offset;
  (void)end;
  errno = ENOSYS;
  return -1;
}

int extend_file(int descriptor, int64_t count) {
  int64_t end = _lseeki64(descriptor, 0, SEEK_END);
  if (end < 0)
    return -1;
  errno_t error = _chsize_s(descriptor, end + count);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return _lseeki64(descriptor, end + count, SEEK_SET) < 0 ? -1 : 0;
}

namespace {
void forget_watched_descriptor(int descriptor); // the interruption's watch
} // namespace

int close_file(int descriptor) {
  forget_watched_descriptor(descriptor);
  return _close(descriptor);
}

int64_t stream_length(const nchar *name) {
  int descriptor = -1;
  std::wstring held;
  errno_t error =
      _wsopen_s(&descriptor, system_name(name, &held), _O_RDONLY | _O_TEXT, _SH_DENYNO, 0);
  if (error != 0) {
    errno = error;
    return -1;
  }
  int64_t length = _filelengthi64(descriptor);
  _close(descriptor);
  return length;
}

// ----------------------------------------------- names the program makes

namespace {

void fill_identity(HANDLE file, FileIdentity *made) {
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(file, &information)) {
    made->device = information.dwVolumeSerialNumber;
    made->file_index = file_index_of(information);
  }
}

// CREATE_NEW never follows a link: a name that exists in any form, a
// reparse point included, is ERROR_FILE_EXISTS. Opening the reparse point
// itself says so twice.
HANDLE create_new_handle(const wchar_t *name, FileIdentity *made) {
  HANDLE file = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return file;
  }
  fill_identity(file, made);
  return file;
}

// The runtime's descriptor over a new handle, or -1 (the handle closed).
int descriptor_of(HANDLE file, int flags) {
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags);
  if (descriptor < 0) {
    CloseHandle(file);
    errno = EMFILE;
  }
  return descriptor;
}

} // namespace

int create_new_file(const nchar *name, uint32_t permissions, FileIdentity *made) {
  (void)permissions; // a new Windows file is always readable and writable
  std::wstring held;
  HANDLE file = create_new_handle(system_name(name, &held), made);
  if (file == INVALID_HANDLE_VALUE)
    return -1;
  return descriptor_of(file, _O_WRONLY | _O_BINARY);
}

namespace {

// Renames the file open as `file`, which the handle may do with DELETE
// access, to `to`, replacing a file there: no other file can take its
// place between the open and the rename. False with errno.
bool rename_open_file(HANDLE file, const wchar_t *to) {
  size_t length = wcslen(to);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + (length + 1) * sizeof(wchar_t));
  FILE_RENAME_INFO *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
  memcpy(rename->FileName, to, (length + 1) * sizeof(wchar_t));
  if (SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
    return true;
  set_errno_from_last_error();
  return false;
}

} // namespace

int rename_made_file(const nchar *from, const nchar *to, const FileIdentity &made) {
  std::wstring from_held, to_held;
  from = system_name(from, &from_held);
  to = system_name(to, &to_held);
  HANDLE file = CreateFileW(from, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return -1;
  }
  BY_HANDLE_FILE_INFORMATION information;
  bool same = GetFileInformationByHandle(file, &information) &&
              (information.dwFileAttributes &
               (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
              information.dwVolumeSerialNumber == made.device &&
              file_index_of(information) == made.file_index;
  if (!same) {
    CloseHandle(file);
    errno = ENOENT;
    return -1;
  }
  bool renamed = rename_open_file(file, to);
  CloseHandle(file);
  return renamed ? 0 : -1;
}

NameStanding name_standing(const nchar *name) {
  std::wstring held;
  DWORD attributes = GetFileAttributesW(system_name(name, &held));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
      return name_missing;
    set_errno_from_last_error();
    return name_refused;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    errno = ELOOP;
    return name_refused;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    errno = EISDIR;
    return name_refused;
  }
  return name_own_file;
}

uint32_t random_number() {
  unsigned int value = 0;
  if (rand_s(&value) == 0)
    return value;
  // Without the runtime's generator the name is still made exclusively.
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<uint32_t>(counter.QuadPart) ^ (GetCurrentProcessId() << 16);
}

// ------------------------------------------------------- text streams

struct TextStream {
  FILE *file;
  LineReader reader;
  // Bytes still to read of a file read as a list: at most what it held
  // when opened, so a list that is also the run's own log can't grow under
  // its reader without end. -1: no such bound.
  int64_t left;
  int read_error = 0; // why a read failed, until a line read tells it
};

namespace {

// A stream over an open file; the file is closed when no record can be had.
TextStream *stream_of(FILE *file) {
  TextStream *stream = new (std::nothrow) TextStream;
  if (stream == nullptr) {
    fclose(file);
    errno = ENOMEM;
    return nullptr;
  }
  stream->file = file;
  stream->left = -1;
  return stream;
}

} // namespace

// Lists are read as bytes, and their line ends folded as the runtime's
// text mode would, so that a UTF-16 list reads whole.
TextStream *open_text(const nchar *name, TextMode mode) {
  const wchar_t *how = L"rb";
  if (mode == text_append)
    how = L"at";
  else if (mode == text_replace)
    how = L"wt";
  std::wstring held;
  FILE *file = _wfopen(system_name(name, &held), how);
  if (file == nullptr)
    return nullptr;
  TextStream *stream = stream_of(file);
  struct _stat64 info;
  if (stream && mode == text_read && _fstat64(_fileno(file), &info) == 0 &&
      (info.st_mode & _S_IFREG))
    stream->left = int64_t(info.st_size);
  // As in the runtime's text mode, a Ctrl-Z ends an 8-bit text.
  if (stream)
    stream->reader.control_z_ends = true;
  return stream;
}

namespace {

// The next byte of a list, within its bound.
int next_file_byte(TextStream *stream) {
  if (stream->left == 0)
    return EOF;
  int c = getc(stream->file);
  if (c == EOF && ferror(stream->file)) {
    // A failed read ends the text: a line cut short there is no name.
    stream->read_error = errno != 0 ? errno : EIO;
    stream->left = 0;
  }
  if (c != EOF && stream->left > 0)
    --stream->left;
  return c;
}

// A line of a marked UTF-8 text; false for bytes that are no UTF-8.
bool wide_of_marked_utf8(const std::string &bytes, std::wstring *wide) {
  int count = static_cast<int>(bytes.size());
  int size = count == 0 ? 0
                        : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), count,
                                              nullptr, 0);
  if (count > 0 && size <= 0)
    return false;
  wide->assign(static_cast<size_t>(size), L'\0');
  if (size > 0)
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), count, &(*wide)[0], size);
  return true;
}

// A line as the program's wide text: false when it is no text of its
// encoding. UTF-16 units are taken as they are, as names may hold them.
bool wide_of_line(TextEncoding encoding, const std::u32string &units, std::wstring *wide) {
  if (encoding == text_utf16_le || encoding == text_utf16_be) {
    wide->clear();
    for (char32_t unit : units) {
      if (unit == kBrokenUnit)
        return false;
      wide->push_back(static_cast<wchar_t>(unit));
    }
    return true;
  }
  std::string bytes = bytes_of_units(units);
  if (encoding == text_utf8)
    return wide_of_marked_utf8(bytes, wide);
  *wide = wide_of_ansi(bytes.data(), bytes.size());
  return true;
}

} // namespace

namespace {

// A text stream to write on a handle of a new file; the handle is closed
// when no stream can be had.
TextStream *text_of_handle(HANDLE handle) {
  int descriptor = descriptor_of(handle, _O_WRONLY | _O_TEXT);
  if (descriptor < 0)
    return nullptr;
  FILE *file = _wfdopen(descriptor, L"wt");
  if (file == nullptr) {
    _close(descriptor);
    errno = ENOMEM;
    return nullptr;
  }
  return stream_of(file);
}

// Gives up a file just made: the handle marks the very file for deletion,
// whatever its name has become, and lets it go.
void discard_made_file(HANDLE file) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
}

} // namespace

// The runtime's descriptor of a file can't be renamed by name: another
// handle with DELETE access is refused while it is open. So the handle that
// makes the file renames it. That handle's DELETE access would keep out
// every reader that doesn't share deletion (the runtime's readers among
// them) for as long as the stream is open, so the stream gets a handle of
// its own for writing alone, opened through the first, never by the name;
// where none can be had, the first serves.
TextStream *create_new_text_over(const nchar *fresh, const nchar *name) {
  std::wstring fresh_held, name_held;
  fresh = system_name(fresh, &fresh_held);
  name = system_name(name, &name_held);
  HANDLE file =
      CreateFileW(fresh, GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return nullptr;
  }
  if (!rename_open_file(file, name)) {
    int error = errno;
    discard_made_file(file);
    errno = error;
    return nullptr;
  }
  HANDLE writer =
      ReOpenFile(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (writer == INVALID_HANDLE_VALUE)
    return text_of_handle(file);
  CloseHandle(file);
  return text_of_handle(writer);
}

// Response files without a mark are ANSI text whatever the console shows,
// as the logs are written. Read byte by byte, so that a NUL byte is counted
// rather than taken as the line's end.
int read_text_line(TextStream *stream, nchar *line, int capacity) {
  // A character takes no more than four bytes, or two in a code page of
  // two-byte characters: a line of more units than that is too long.
  TextLine text = read_line_units(
      &stream->reader, [stream] { return next_file_byte(stream); }, size_t(capacity) * 4);
  if (stream->read_error != 0) {
    errno = stream->read_error;
    stream->read_error = 0;
    return text_line_unreadable;
  }
  std::wstring wide;
  if (!wide_of_line(stream->reader.encoding, text.units, &wide))
    return text.cut ? text_line_too_long : text_line_not_text;
  return deliver_text_line(wide, text.cut, line, capacity, text_line_too_long);
}

int write_text(TextStream *stream, const char *text, size_t length) {
  std::string ansi = ansi_of_utf8(text, length);
  errno = 0;
  return fwrite(ansi.data(), 1, ansi.size(), stream->file) == ansi.size() ? 0 : text_failure();
}

int flush_text(TextStream *stream) {
  errno = 0;
  return fflush(stream->file) == 0 ? 0 : text_failure();
}

// The runtime's close tells only of what it hands over itself; the error
// mark tells of a write lost before.
int close_text(TextStream *stream) {
  if (stream == nullptr)
    return 0;
  errno = 0;
  bool lost = ferror(stream->file) != 0;
  bool closed = fclose(stream->file) == 0;
  int error_number = errno;
  delete stream;
  errno = error_number;
  return closed && !lost ? 0 : text_failure();
}

// ------------------------------------------------------------ console

namespace {

WideConsoleWriter wide_console_writer = nullptr;

bool handle_is_console(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// Asked once per stream: a stream doesn't change what it is during a run.
bool stream_is_console(ConsoleStream stream) {
  static int answers[2] = {-1, -1};
  int &answer = answers[stream == console_error ? 1 : 0];
  if (answer < 0)
    answer = handle_is_console(stream == console_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  return answer == 1;
}

// The console's own line ends, as text mode writes them to it.
std::wstring console_lines(const std::wstring &text) {
  std::wstring lines;
  lines.reserve(text.size() + 8);
  for (wchar_t c : text) {
    if (c == L'\n')
      lines.push_back(L'\r');
    lines.push_back(c);
  }
  return lines;
}

bool write_wide_console(ConsoleStream stream, const std::wstring &text) {
  HANDLE handle = GetStdHandle(stream == console_error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  size_t done = 0;
  while (done < text.size()) {
    // Old consoles refuse very long writes; a piece at a time.
    DWORD piece = static_cast<DWORD>(text.size() - done < 8192 ? text.size() - done : 8192);
    DWORD written = 0;
    if (!WriteConsoleW(handle, text.data() + done, piece, &written, nullptr) || written == 0)
      return done > 0;
    done += written;
  }
  return true;
}

// A name on a console is shown as it is, in the console's wide characters,
// whatever its narrow code page could show. False when the stream is no
// console, or refused the text before any of it was shown.
bool write_console_text(ConsoleStream stream, const char *text, size_t length) {
  if (wide_console_writer == nullptr && !stream_is_console(stream))
    return false;
  std::wstring wide = console_lines(wide_of_utf8(text, length));
  if (wide_console_writer != nullptr) {
    wide_console_writer(stream, wide.data(), wide.size());
    return true;
  }
  return write_wide_console(stream, wide);
}

// True when standard output is a console.
bool output_is_terminal() {
  // The NUL device is a character device too; only a console counts.
  static int answer = -1;
  if (answer < 0)
    answer = _isatty(_fileno(stdout)) != 0 && stream_is_console(console_output) ? 1 : 0;
  return answer == 1;
}

} // namespace

void set_wide_console_writer(WideConsoleWriter writer) { wide_console_writer = writer; }

void console_write(ConsoleStream stream, const char *text, size_t length) {
  // On a console each piece is handed over at once, so a progress figure
  // shows while the copy runs. Redirected output is handed over a line at a
  // time, so that an interrupted run keeps every line it finished, and
  // before anything goes to standard error so that the two keep their order.
  FILE *file = stream == console_error ? stderr : stdout;
  if (stream == console_error)
    fflush(stdout);
  if (!write_console_text(stream, text, length)) {
    std::string ansi = ansi_of_utf8(text, length);
    fwrite(ansi.data(), 1, ansi.size(), file);
  }
  if (stream == console_error || output_is_terminal() || memchr(text, '\n', length) != nullptr)
    fflush(file);
}

void console_flush() {
  fflush(stdout);
  fflush(stderr);
}

std::string narrow_text(const nchar *text) {
  if (text == nullptr)
    return std::string();
  size_t length = wcslen(text);
  int count = static_cast<int>(length);
  int size =
      length == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0)
    return narrow_ascii(text, length);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, count, &narrow[0], size, nullptr, nullptr);
  return narrow;
}

// ------------------------------------------------- errors and time

std::string error_text(int error_number) { return strerror(error_number); }

std::string system_message(int code) {
  wchar_t *message = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(code), 0x0400, reinterpret_cast<wchar_t *>(&message), 0, nullptr);
  if (length == 0 || message == nullptr)
    return std::string();
  std::string text = narrow_text(message);
  LocalFree(message);
  // The message ends in CR LF, and it is written to text streams that turn
  // a line feed into CR LF themselves: the line end is kept as a line feed so
  // that the output carries the system's CR LF once, not CR CR LF.
  std::string kept;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      kept.push_back(text[i]);
  return kept;
}

uint32_t milliseconds_now() { return timeGetTime(); }

int64_t wall_seconds() { return _time64(nullptr); }

void pause_milliseconds(uint32_t milliseconds) { Sleep(milliseconds); }

void begin_timer_resolution() { timeBeginPeriod(1); }

void end_timer_resolution() { timeEndPeriod(1); }

std::string local_time_text() {
  __time64_t now = _time64(nullptr);
  const char *text = _ctime64(&now);
  return text != nullptr ? text : "";
}

// ------------------------------------------------ memory and process

void *allocate_memory(size_t size) { return malloc(size); }

void free_memory(void *block) { free(block); }

void exit_process(int code) {
  console_flush();
  exit(code);
}

namespace {

// The value of an environment variable (its name matched without regard to
// case), or false when it is not set.
bool environment_value(const char *name, nstring *value) {
  std::wstring wide_name;
  for (; *name != '\0'; ++name)
    wide_name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*name)));
  const wchar_t *found = _wgetenv(wide_name.c_str());
  if (found == nullptr)
    return false;
  *value = found;
  return true;
}

} // namespace

// ------------------------------------------------------- file versions

void read_file_version(const nchar *name, uint32_t *most, uint32_t *least) {
  *most = 0;
  *least = 0;
  DWORD handle = 0;
  std::wstring held;
  name = system_name(name, &held);
  DWORD size = GetFileVersionInfoSizeW(name, &handle);
  if (size == 0)
    return;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(name, 0, size, data.data()))
    return;
  void *value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &value, &length) || value == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO))
    return;
  const VS_FIXEDFILEINFO *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
  *most = fixed->dwFileVersionMS;
  *least = fixed->dwFileVersionLS;
}

// --------------------------------------------------- the platform copy

namespace {

// The interruption's side of the platform copy.
void output_opened();
BOOL *platform_copy_cancel();
void platform_copy_returned();

struct CopyReport {
  CopyProgress progress;
  void *context;
  FileIdentity *made; // the file the service writes, once it reports
};

DWORD CALLBACK copy_progress_routine(LARGE_INTEGER total_size, LARGE_INTEGER total_transferred,
                                     LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD, HANDLE,
                                     HANDLE destination, LPVOID data) {
  // The service calls this once the destination is open.
  output_opened();
  const CopyReport *report = static_cast<const CopyReport *>(data);
  if (report->made != nullptr && report->made->file_index == 0)
    fill_identity(destination, report->made);
  if (report->progress != nullptr)
    report->progress(total_size.QuadPart, total_transferred.QuadPart, report->context);
  return PROGRESS_CONTINUE;
}

} // namespace

int platform_copy_file(const nchar *source, const nchar *destination, bool restartable,
                       CopyProgress progress, void *context) {
  CopyReport report = {progress, context, nullptr};
  DWORD flags = restartable ? COPY_FILE_RESTARTABLE : 0;
  std::wstring source_held, destination_held;
  source = system_name(source, &source_held);
  destination = system_name(destination, &destination_held);
  BOOL copied = CopyFileExW(source, destination, copy_progress_routine, &report,
                            platform_copy_cancel(), flags);
  platform_copy_returned();
  if (copied)
    return 0;
  DWORD code = GetLastError();
  // A failure must never read as success, even without a reason.
  return code != 0 ? static_cast<int>(code) : static_cast<int>(ERROR_GEN_FAILURE);
}

int platform_copy_new_file(const nchar *source, const nchar *destination, CopyProgress progress,
                           void *context, FileIdentity *made, bool *taken) {
  *made = FileIdentity();
  CopyReport report = {progress, context, made};
  std::wstring source_held, destination_held;
  source = system_name(source, &source_held);
  destination = system_name(destination, &destination_held);
  // The service makes the file itself with CREATE_NEW, in the same call
  // that writes it.
  BOOL copied = CopyFileExW(source, destination, copy_progress_routine, &report,
                            platform_copy_cancel(), COPY_FILE_FAIL_IF_EXISTS);
  platform_copy_returned();
  if (copied) {
    *taken = false;
    if (made->file_index == 0) {
      // A service that never reported: the file as it stands, never a
      // reparse point in its place.
      HANDLE file = CreateFileW(destination, FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        fill_identity(file, made);
        CloseHandle(file);
      }
    }
    return 0;
  }
  DWORD code = GetLastError();
  *taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  return code != 0 ? static_cast<int>(code) : static_cast<int>(ERROR_GEN_FAILURE);
}

// ----------------------------------------------------- the help viewer

nstring help_directory() {
  wchar_t windows[kPathCapacity];
  UINT length = GetWindowsDirectoryW(windows, kPathCapacity);
  bool known = length != 0 && length < static_cast<UINT>(kPathCapacity);
  return temporary_directory(native_path_style, environment_value,
                             known ? nstring(windows, length) : nstring());
}

void show_help_file(const nchar *path) {
  // The command line of WinExec is read in the ANSI code page, whatever the
  // console shows.
  std::string command = "NOTEPAD.EXE " + narrow_in(CP_ACP, path);
  WinExec(command.c_str(), 5);
}

// The editor is started whatever standard output is.
bool help_text_to_output() { return false; }

// The editor shows files only; the console takes the text.
bool show_help_text(const std::string &) { return false; }

// ------------------------------------------------- the progress window

namespace {

HWND progress_window = nullptr;
HWND progress_bar = nullptr;

// The console's own window, found by giving the console a title no other
// window has and looking for a top-level window of that title.
// The console's own title while another stands in for it; an interruption
// in the meantime puts it back.
wchar_t saved_title[1024];
volatile LONG title_replaced = 0;

HWND find_console_window() {
  saved_title[0] = L'\0';
  GetConsoleTitleW(saved_title, 1024);
  wchar_t unique_title[64];
  wsprintfW(unique_title, L"%d/%d", static_cast<int>(GetTickCount()),
            static_cast<int>(GetCurrentProcessId()));
  InterlockedExchange(&title_replaced, 1);
  SetConsoleTitleW(unique_title);
  Sleep(40);
  HWND found = FindWindowW(nullptr, unique_title);
  SetConsoleTitleW(saved_title);
  InterlockedExchange(&title_replaced, 0);
  return found;
}

} // namespace

int progress_window_open(const nchar *caption) {
  progress_window_close();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HWND console = find_console_window();
  int h = GetSystemMetrics(SM_CYVSCROLL);
  if (console == nullptr)
    return 0;
  progress_window = CreateWindowExW(0, L"STATIC", caption, WS_CHILD | WS_CAPTION, 0, 0, 25 * h,
                                    h + h + h / 2, console, nullptr, instance, nullptr);
  if (progress_window == nullptr)
    return 0;
  ShowWindow(progress_window, SW_SHOW);
  UpdateWindow(progress_window);
  RECT client;
  GetClientRect(progress_window, &client);
  InitCommonControls();
  progress_bar =
      CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, client.left, client.top,
                      client.right, h, progress_window, nullptr, instance, nullptr);
  SendMessageW(progress_bar, PBM_SETPOS, 0, 0);
  return 1;
}

void progress_window_position(int percent) {
  if (progress_bar != nullptr)
    SendMessageW(progress_bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void progress_window_close() {
  if (progress_bar != nullptr)
    DestroyWindow(progress_bar);
  progress_bar = nullptr;
  if (progress_window != nullptr)
    DestroyWindow(progress_window);
  progress_window = nullptr;
}

// -------------------------------------------------------- interruption

namespace {

// The status of a process ended by Ctrl-C.
const UINT kControlCExit = 0xC000013Au;

// What the console control handler needs to put right the copy in progress.
// The handler runs on a thread of its own while the program's thread is held
// still, so it uses the system's services only, never the runtime's, whose
// locks the held thread may own. The fields are made whole before `active`
// is set.
struct OutputWatch {
  volatile LONG active;
  volatile LONG opened;
  volatile LONG temporary;
  HANDLE handle;       // the output's system handle, or INVALID_HANDLE_VALUE
  FILETIME mark;       // a plain output's modification time after an interruption
  wchar_t name[32768]; // the name the system knows it by
};

OutputWatch output_watch = {0, 0, 0, INVALID_HANDLE_VALUE, {0, 0}, {0}};
HANDLE program_thread = nullptr;
volatile LONG stopping = 0;
// The platform copy is cancelled through the service's own flag, so that it
// lets go of its files, and the program's thread then waits to be ended.
BOOL copy_cancel = FALSE;
HANDLE copy_returned = nullptr;
volatile LONG copying = 0; // the platform copy service is running

void output_opened() { InterlockedExchange(&output_watch.opened, 1); }

// A closed handle's value may be reused at once: from here on the output is
// known by its name only.
void forget_watched_descriptor(int descriptor) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  if (handle != INVALID_HANDLE_VALUE && handle == output_watch.handle)
    output_watch.handle = INVALID_HANDLE_VALUE;
}

BOOL *platform_copy_cancel() {
  InterlockedExchange(&copying, 1);
  return &copy_cancel;
}

void platform_copy_returned() {
  InterlockedExchange(&copying, 0);
  if (InterlockedCompareExchange(&stopping, 0, 0) == 0)
    return;
  SetEvent(copy_returned);
  Sleep(INFINITE);
}

void stamp_as_oldest(HANDLE handle, const wchar_t *name) {
  FILETIME mark = output_watch.mark;
  if (handle != INVALID_HANDLE_VALUE) {
    SetFileTime(handle, nullptr, nullptr, &mark);
    return;
  }
  set_times_by_name(name, nullptr, &mark);
}

void put_right_output() {
  if (!output_watch.active || !output_watch.opened)
    return;
  if (!output_watch.temporary) {
    stamp_as_oldest(output_watch.handle, output_watch.name);
    return;
  }
  // A file open without delete sharing can't be removed while open.
  if (output_watch.handle != INVALID_HANDLE_VALUE)
    CloseHandle(output_watch.handle);
  DeleteFileW(output_watch.name);
}

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  // The first event ends the process; later ones wait for it.
  if (InterlockedExchange(&stopping, 1) != 0) {
    Sleep(INFINITE);
    return TRUE;
  }
  if (InterlockedCompareExchange(&copying, 0, 0) != 0) {
    copy_cancel = TRUE;
    WaitForSingleObject(copy_returned, 5000);
  }
  SuspendThread(program_thread);
  put_right_output();
  if (InterlockedCompareExchange(&title_replaced, 0, 0) != 0)
    SetConsoleTitleW(saved_title);
  // Ending the process destroys the progress window with it.
  TerminateProcess(GetCurrentProcess(), kControlCExit);
  return TRUE;
}

} // namespace

void install_interrupt_handlers() {
  if (program_thread != nullptr)
    return;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &program_thread,
                  THREAD_SUSPEND_RESUME, FALSE, 0);
  copy_returned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A console that ignores Ctrl-C for this process never calls the handler
  // for it, so an ignored interruption stays ignored.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void watch_output(const nchar *name, int descriptor, bool temporary, FileTime partial_mark) {
  InterlockedExchange(&output_watch.active, 0);
  std::wstring held;
  name = system_name(name, &held);
  size_t length = wcslen(name);
  if (length >= sizeof output_watch.name / sizeof output_watch.name[0])
    return; // no such name was opened
  wmemcpy(output_watch.name, name, length + 1);
  output_watch.temporary = temporary ? 1 : 0;
  output_watch.mark = system_file_time(partial_mark);
  output_watch.handle =
      descriptor >= 0 ? reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)) : INVALID_HANDLE_VALUE;
  output_watch.opened = descriptor >= 0 ? 1 : 0;
  copy_cancel = FALSE;
  InterlockedExchange(&output_watch.active, 1);
}

void end_output_watch() { InterlockedExchange(&output_watch.active, 0); }

} // namespace zorov

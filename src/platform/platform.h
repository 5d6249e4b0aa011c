// The one interface between the program and the operating system. Two
// implementations stand behind it (POSIX and Windows), chosen by the build;
// a third, in-memory one is linked only into the unit tests.
//
// Conventions: names are native strings; a call that fails returns -1 (or
// null, or false) and leaves the reason in errno, as the C runtime does, so
// the copy engine can report the runtime's text for it. A missing name is
// such a failure too (ENOENT, or ENOTDIR for a missing directory part), told
// apart by its errno. The end of a search or of a text stream and an unset
// variable are ordinary results; the platform copy alone returns the
// platform's own error code.
#pragma once

#include "platform/native.h"

#include <cstdint>
#include <string>

namespace zorov {

// ---------------------------------------------------------------- status

// A point in time with the precision the platform keeps.
struct FileTime {
  int64_t seconds = 0; // since 1970-01-01 00:00 UTC
  int32_t nanoseconds = 0;
};

struct FileStatus {
  int64_t size = 0;
  FileTime access_time;
  FileTime modification_time;
  // When the file's status last changed (POSIX) or the file was made
  // (Windows): no copy is given it, so it tells a copy from its source
  // where every other figure of their statuses agrees.
  FileTime change_time;
  bool is_directory = false;
  bool is_regular = false;
  bool read_only = false;   // owner-write bit clear / read-only attribute
  uint32_t permissions = 0; // POSIX permission bits (07777); 0 on Windows
  uint64_t device = 0;      // with `file_index`, the file's identity
  uint64_t file_index = 0;
  int64_t allocated = -1; // bytes the file takes on the disk; -1 unknown
};

// 0 and `status` filled, or -1 with errno (ENOENT for a missing name).
int file_status(const nchar *name, FileStatus *status);

// ------------------------------------------------------- full-path names

// The absolute form of `name` by the platform's full-path rules. Returns 0,
// or -1 when the name cannot be resolved or the result is longer than
// kPathMax.
int resolve_full_path(const nchar *name, nstring *full);

// ------------------------------------------------------ directory search

// Entry attributes, with the values of the Windows find record.
const uint32_t attribute_read_only = 0x01;
const uint32_t attribute_hidden = 0x02;
const uint32_t attribute_system = 0x04;
const uint32_t attribute_directory = 0x10;

struct DirectoryEntry {
  nstring name;            // the entry's own name, without directory
  uint32_t attributes = 0; // attribute_* bits
  // The entry's status, where the search took it as the entry was yielded
  // (POSIX), so that the caller need not ask for it again.
  bool status_known = false;
  FileStatus status;
};

struct DirectorySearch; // opaque

// Starts a search for `pattern` (a directory part and a final component with
// `*` and `?`). Returns the search with its first entry in `entry`, or null
// when the search cannot start or nothing matches; errno is ENOENT when
// nothing matches or the directory is missing, else the reason the directory
// could not be read (a directory that can be listed but not entered can't
// be read).
DirectorySearch *search_first(const nchar *pattern, DirectoryEntry *entry);
// 1 with the next entry, 0 when the entries ran out, -1 (errno) when the
// directory could not be read on.
int search_next(DirectorySearch *search, DirectoryEntry *entry);
void search_close(DirectorySearch *search);

// ------------------------------------------------- names on the disk

int make_directory(const nchar *name);               // one level; 0 or -1 (errno)
int remove_file(const nchar *name);                  // 0 or -1 (errno)
int rename_file(const nchar *from, const nchar *to); // 0 or -1 (errno)
int make_writable(const nchar *name);                // adds write permission
int set_file_times(const nchar *name, FileTime access, FileTime modification);
// The same through a descriptor open for writing, which spares looking the
// name up again; -1 (errno) where the platform can't, or where the file
// system may date the file anew as it is closed (FUSE on POSIX), and then
// the caller sets them by name once it is closed.
int set_open_file_times(int descriptor, FileTime access, FileTime modification);

// Gives `written` the attributes of `source`: on Windows its attribute bits
// plus ARCHIVE, on POSIX its permission bits exactly.
int copy_file_attributes(const nchar *source, const nchar *written);

// ------------------------------------------------- file descriptors

enum OpenMode {
  open_read,           // binary input
  open_write_truncate, // write-only, create, truncate
  open_append,         // read-write, create, every write at the end
};

enum ShareMode {
  share_deny_write,      // others may read but not write
  share_deny_none,       // others may read and write
  share_deny_read_write, // no other may read or write
};

// Opens `name` and returns a descriptor, or -1 with errno. `permissions` are
// the POSIX permission bits a new file gets (less the umask); Windows gives a
// new file read and write permission. A device or named pipe is opened as
// it is, never truncated; a pipe that no one reads refuses a writer at once
// (ENXIO) instead of waiting for one.
int open_file(const nchar *name, OpenMode mode, ShareMode share, uint32_t permissions);
// Bytes read (0 at end of file) or -1.
int32_t read_file(int descriptor, void *buffer, uint32_t count);
// Bytes written or -1. A write that transfers nothing returns 0.
int32_t write_file(int descriptor, const void *buffer, uint32_t count);
// New position or -1.
int64_t seek_file(int descriptor, int64_t offset);
// Length of the open file or -1.
int64_t file_length(int descriptor);
int close_file(int descriptor);

// Sparse files. The extent of the open file that begins at `offset`: 1
// when it is a hole (it reads as zeros and takes no disk space), 0 when it
// holds data; its end in `*end` (a hole at the end ends at the file's
// present length; at or past it, 0 and INT64_MAX: only a read finds the
// end). -1 where the platform can't tell. Leaves the file position
// anywhere.
int file_extent(int descriptor, int64_t offset, int64_t *end);
// Lengthens the file by `count` bytes of hole and places the position at
// its new end: 0, or -1 (errno).
int extend_file(int descriptor, int64_t count);

// Length of a file or stream found by opening it for reading, or -1.
int64_t stream_length(const nchar *name);

// ----------------------------------------------- names the program makes

// Which file a name the program made itself stood for when it was made.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t file_index = 0;
};

// Makes `name` a new file open for writing, exclusively and never through a
// link: a name that exists in any form, a dangling link included, is EEXIST.
// Returns a descriptor, or -1 with errno; `made` gets the file's identity.
int create_new_file(const nchar *name, uint32_t permissions, FileIdentity *made);
// Renames the file made as `made` to `to`, replacing a file there, as long as
// `from` still names that very file and is no link; else -1 with ENOENT.
int rename_made_file(const nchar *from, const nchar *to, const FileIdentity &made);

// How a name stands before the program puts a file of its own in its place.
enum NameStanding {
  name_missing,  // nothing has the name
  name_own_file, // a plain file of the user who runs the program
  name_refused,  // a link, a reparse point, another user's file, a directory
};
// A refusal leaves the reason in errno (ELOOP for a link or a reparse
// point, EISDIR for a directory, EACCES for another user's file, or why the
// name could not be looked at).
NameStanding name_standing(const nchar *name);

// A number no one can guess, for the names of fresh files.
uint32_t random_number();

// ------------------------------------------------------- text streams

struct TextStream; // opaque

enum TextMode {
  text_read,   // a CR LF reads as one line feed (see read_text_line)
  text_append, // created when missing, platform line ends
  text_replace // created or emptied, platform line ends
};

TextStream *open_text(const nchar *name, TextMode mode); // null and errno
// Reads one line of at most `capacity - 1` characters into `line` (a byte
// per character on POSIX, a UTF-16 unit on Windows), the line feed kept when
// it fits; the line end of a line that exactly fills the buffer is taken
// with it. A text that begins with a byte-order mark is read in the
// encoding the mark names, the mark being no character of it: UTF-8, or
// UTF-16 (turned into UTF-8 on POSIX); other Windows text is in the ANSI
// code page, and ends at a Ctrl-Z. Returns the number of characters stored
// (a NUL of the line counts as one), 0 at the end, or a refusal below for a
// line no name can be: such a line is read to its end, and nothing of it is
// stored.
const int text_line_too_long = -2; // longer than the buffer holds
const int text_line_not_text = -3; // not text of its encoding (an odd byte, a lone surrogate)
// The text could not be read on (errno tells why): nothing of the line read
// so far is stored, and the stream reads as ended from here.
const int text_line_unreadable = -4;
int read_text_line(TextStream *stream, nchar *line, int capacity);
// A text stream to write on a new, empty file that has taken `name`'s place,
// for a file the program names itself in a directory others may write to.
// Null (errno) when name_standing refuses the name; otherwise the file is
// made as create_new_file makes one under a fresh name beside `name` that no
// one can guess, and renamed over it (in a sticky directory another user's
// file refuses that) before the stream is handed out, so that every line
// written reaches the name.
TextStream *create_text_in_place(const nchar *name);
// Writes narrow text; "\n" becomes the platform's line end. Windows text
// files, and the lines read from them without a mark, are in the ANSI code
// page. Returns 0,
// or -1 (errno) when the stream could not take all of the text.
int write_text(TextStream *stream, const char *text, size_t length);
// Hands what was written over to the system: 0, or -1 (errno).
int flush_text(TextStream *stream);
// Hands over what is left and lets the stream go, whatever happens: 0, or
// -1 (errno) when text written to it was lost, now or by an earlier write.
int close_text(TextStream *stream);

// ------------------------------------------------------------ console

enum ConsoleStream { console_output, console_error };

// Writes narrow text to standard output or standard error; "\n" becomes the
// platform's text line end. On Windows a console gets it in its wide
// characters, redirected output in the ANSI code page. A terminal gets each
// piece at once; other output gets at least every complete line at once.
void console_write(ConsoleStream stream, const char *text, size_t length);
// Hands what was written to the console over to the system.
void console_flush();

// The program's narrow form of a native name, which keeps every character:
// the bytes themselves on POSIX, UTF-8 on Windows (where console and text
// files turn it into their own character set).
std::string narrow_text(const nchar *text);

// ------------------------------------------------- errors and time

// The runtime's text for an errno value, as perror prints it.
std::string error_text(int error_number);
// The system's message for a platform error code (FormatMessageW on Windows,
// strerror on POSIX); the Windows text keeps its own line end.
std::string system_message(int code);

uint32_t milliseconds_now();       // monotonic millisecond clock, wrapping
int64_t wall_seconds();            // seconds since 1970
void pause_milliseconds(uint32_t); // 0: a yield on Windows, nothing on POSIX
void begin_timer_resolution();     // 1 ms resolution for paced runs
void end_timer_resolution();
// The local time in ctime form: 24 characters and a line feed.
std::string local_time_text();

// ------------------------------------------------ memory and process

// Allocations of the buffer pool, so that the tests can refuse them.
void *allocate_memory(size_t size);
void free_memory(void *block);

[[noreturn]] void exit_process(int code);

// -------------------------------------------------------- interruption

// From now on SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE (on Windows Ctrl-C,
// Ctrl-Break and closing the console) end the process at once and cleanly:
// the output named by watch_output is put right, the progress indicator is
// cleared, and the process ends with the signal's usual status (128 + n on
// POSIX). Text already handed to the system stays; a signal ignored at start
// stays ignored. On POSIX a write beyond the file-size limit fails (EFBIG)
// like any other instead of ending the process.
void install_interrupt_handlers();

// The output of the copy in progress, for an interruption to put right: a
// temporary file is removed (the destination stays as it was); a plain
// destination stays for a restart, its modification time set to
// `partial_mark` so that it never looks newer than its source. `descriptor`
// is the open output, or -1 before it is opened: an interruption that comes
// while a temporary file is being made waits until it is watched as opened
// (or the watch ends), so that it never leaves the file behind.
void watch_output(const nchar *name, int descriptor, bool temporary, FileTime partial_mark);
// The output is whole or already dealt with: an interruption leaves it be.
void end_output_watch();

// ------------------------------------------------------- file versions

// The two version words of a file's version resource; 0 and 0 when it has
// none.
void read_file_version(const nchar *name, uint32_t *most, uint32_t *least);

// --------------------------------------------------- the platform copy

// The platform's whole-file copy. Progress reports go to `progress` with
// the total size and the bytes transferred so far. Returns 0, or the
// platform's error code.
typedef void (*CopyProgress)(int64_t total, int64_t transferred, void *context);
int platform_copy_file(const nchar *source, const nchar *destination, bool restartable,
                       CopyProgress progress, void *context);
// The same copy into a new file it makes as create_new_file makes one. A
// name that exists in any form sets `taken` and is left alone.
int platform_copy_new_file(const nchar *source, const nchar *destination, CopyProgress progress,
                           void *context, FileIdentity *made, bool *taken);

// ----------------------------------------------------- the help viewer

// The directory the help file is written to: TMP, then TEMP (on POSIX then
// TMPDIR), else the system's.
nstring help_directory();
// Shows the help file in the system's viewer. Windows starts its editor and
// goes on; on POSIX a terminal gets the pager, which keeps it until the user
// leaves, and other output no viewer at all.
void show_help_file(const nchar *path);
// True when the help text is to reach standard output as well: on POSIX
// when that is not a terminal, so that no pager would be started.
bool help_text_to_output();
// Shows the help text itself, where no help file could be written: on POSIX
// a terminal gets the pager over a pipe, which keeps it until the user
// leaves. False when no viewer took the text (no terminal, no pager to be
// started, Windows), so that the caller writes it to standard output.
bool show_help_text(const std::string &text);

// ------------------------------------------------- the progress window

// The progress window: 1 when it opened with `caption`, else 0.
int progress_window_open(const nchar *caption);
void progress_window_position(int percent);
void progress_window_close();

} // namespace zorov

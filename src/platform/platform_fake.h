// Controls of the in-memory platform that stands in for the operating system
// in the unit tests: files and directories in memory, a fake clock, captured
// console output, and faults injected into the Nth call of an operation.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace zorov {
namespace fake {

// Thrown by exit_process, so a test can watch the program end.
struct ProcessExit {
  int code;
};

// Empties the file system, the console and the faults; the clock reads 0;
// the current directory is "/work" (POSIX) or "C:\work" (Windows), and it
// exists.
//
// Names: every name given to the controls or to the platform calls is made
// absolute against the current directory and folded ("." and "..", repeated
// separators); "/" separates on both builds and "\" on Windows as well.
// Windows names are matched without regard to ASCII case and keep the case
// they were created with. Drive roots ("/", "C:\", "D:\" ...) always exist.
// A control given a name that must exist and doesn't throws
// std::invalid_argument, so a mistaken test stops at once.
// Files written through the platform keep "\n" line ends unchanged on every
// build, so expected texts are the same everywhere.
//
// What the platform calls do here, besides the obvious:
// - open_file: a missing file to read, or a missing parent, is ENOENT; a
//   read-only file opened to write or append is EACCES; a directory is EISDIR
//   (EACCES on Windows). A new POSIX file gets `permissions` less umask 022;
//   a new Windows file is writable. Share modes are ignored.
// - read_file on a write-only descriptor and write_file on a read descriptor
//   are EBADF; an unknown descriptor is EBADF everywhere. A failed close still
//   releases the descriptor.
// - Writing sets the file's modification time to the wall clock.
// - search_first lists matches in sorted order (Windows: by their capitals);
//   "." and ".." come too, when they match, in any directory but a root. A
//   missing directory or no match is null with ENOENT.
// - remove_file of a read-only file and set_file_times on one fail with
//   EACCES on Windows only; remove_file of a directory fails.
// - rename_file onto an existing name replaces a file on POSIX and fails with
//   EEXIST on Windows; a directory moves with everything below it.
// - A name beyond the limit is ENAMETOOLONG (ENOENT on Windows, as the
//   runtime finds no such path).
// - make_directory of an existing name is EEXIST, with a missing parent
//   ENOENT.
// - open_text to append or replace creates the file; a read-only one is
//   EACCES. Lines are read like fgets, a CR LF as one line feed.
// - platform_copy_file copies content, times, attributes and permissions;
//   its result is an errno value (ENOENT, EACCES, ENOSPC ...). Restartable
//   copies go on from the destination's length. The copy's permission bits
//   are the source's less umask 022.
// - create_new_file, create_new_text and platform_copy_new_file count as
//   open_file, open_text and platform_copy_file calls; rename_made_file
//   counts as a rename_file call and replaces a file at the new name on
//   both builds; name_standing counts as a file_status call.
// - random_number counts up from 0x5eed0000.
// - error_text and system_message are the C library's strerror texts;
//   local_time_text is the wall clock as universal time in ctime form.
// - help_directory: by the rule of the real layers, "C:\WINDOWS" standing
//   for the Windows directory.
void reset();

// Creates or refills a file (missing parent directories are created); its
// access and modification times are `modification_seconds`. Refilling keeps
// the file's identity, so its links see the new content.
void add_file(const nstring &name, const std::string &content, int64_t modification_seconds = 0,
              bool read_only = false);
// Creates a directory and its missing parents.
void add_directory(const nstring &name);
// Inspection without counting as calls: presence, kind, read-only state,
// content ("" when missing) and file_status's record (the name must exist).
bool exists(const nstring &name);
bool is_directory(const nstring &name);
// Every full name of the file system, directories included, but no root.
std::vector<nstring> names();
bool is_read_only(const nstring &name);
std::string content(const nstring &name);
// What flush_text and close_text of a text stream have handed over of it.
std::string flushed_content(const nstring &name);
FileStatus status_of(const nstring &name);
// Makes ranges (offset, length) of a file's zeros holes: file_extent reports
// them and file_status counts them out of the allocated bytes. Writes fill
// them; extend_file adds them.
void set_holes(const nstring &name, const std::vector<std::pair<int64_t, int64_t>> &holes);
std::vector<std::pair<int64_t, int64_t>> holes(const nstring &name);
// Makes `link` name the very same file as `target` (a hard link).
void add_link(const nstring &link, const nstring &target);
// Makes `link` a symbolic link to `target`, which need not exist. Opening,
// examining and copying follow it; remove_file and rename_file act on the
// link itself, and exclusive creation counts it as a name that is taken.
void add_symbolic_link(const nstring &link, const nstring &target);
bool is_symbolic_link(const nstring &name);
// Makes an existing file belong to another user.
void set_foreign_owner(const nstring &name);
// Makes `spelling` another spelling of `target`'s name, as a file system that
// folds letter case accepts it: it opens the same file, but reports an
// identity of its own and is not listed by a directory search.
void add_case_spelling(const nstring &spelling, const nstring &target);
// Sets a file's attribute bits (attribute_read_only, _hidden, _system,
// _archive); the read-only bit also clears or restores the write permission.
// On POSIX a name beginning with "." is reported hidden whatever the bits.
void set_attributes(const nstring &name, uint32_t attributes);
// The attribute bits a directory search reports for the name.
uint32_t attributes_of(const nstring &name);
// Sets the POSIX permission bits; without the owner-write bit (0200) the file
// is read-only.
void set_permissions(const nstring &name, uint32_t permissions);
// Sets both times of an existing file or directory.
void set_times(const nstring &name, FileTime access, FileTime modification);
// The two version words read_file_version reports for the file.
void set_file_version(const nstring &name, uint32_t most, uint32_t least);
// Moves the current directory (created when missing).
void set_current_directory(const nstring &name);
// Writes through descriptors may add at most `bytes` more bytes in all; a
// write beyond that moves what fits, and one that fits nothing fails with
// ENOSPC (negative: unlimited, the default).
void set_free_space(int64_t bytes);
// New files and directories may be made while the file system holds fewer
// than `entries` names; beyond that a new one is ENOSPC (negative:
// unlimited, the default).
void set_entry_limit(int entries);
// From the given number of platform calls on, every call fails with EIO, so
// a run whose work grows without bound (a fuzzed command line) winds down
// through its error paths instead of running for minutes; -1, the default,
// sets no budget.
void set_call_budget(int calls);
// Descriptors, text streams and directory searches not closed yet.
int open_descriptor_count();
int open_text_count();
int open_search_count();
// Blocks from allocate_memory not given back yet.
int allocated_blocks();

// What was written to standard output and standard error.
std::string console_output();
std::string console_error();
// Forgets what the console holds so far.
void clear_console();

// The millisecond clock; each reading also advances it by `step` (0 default).
void set_clock(uint32_t milliseconds, uint32_t step = 0);
// The wall clock in seconds; each reading of wall_seconds also advances it by
// `step`. Times given to files written through the platform are its value.
void set_wall_clock(int64_t seconds, int64_t step = 0);
// Every pause the engine asks for, in order, a pause of 0 included (a yield
// on Windows, nothing on POSIX), so that tests see where the engine pauses
// on either platform. A pause of n moves the millisecond clock on by n; a
// pause of 0 leaves it where it is.
std::vector<uint32_t> pauses();
// Timer resolution requests in order: "begin" and "end".
std::vector<std::string> timer_events();

// The operations whose calls can be made to fail or fall short.
enum Operation {
  op_open,
  op_read,
  op_write,
  op_seek,
  op_length,
  op_close,
  op_status,
  op_remove,
  op_rename,
  op_make_directory,
  op_make_writable,
  op_set_times,
  op_open_text,
  op_allocate,
  op_search,        // search_first
  op_resolve,       // resolve_full_path
  op_stream_length, // stream_length
  op_attributes,    // copy_file_attributes
  op_platform_copy, // platform_copy_file (returns the error number)
  op_search_next,   // search_next (a failure is -1, not the end)
  op_extent,        // file_extent
  op_operation_count
};

// The `nth` call (1-based, counted from the last reset) of `operation`
// fails with `error_number`; with nth = 0 every call fails from now on.
void fail_call(Operation operation, int nth, int error_number);
// The `nth` read or write moves at most `bytes` bytes (a write of 0 bytes
// then returns 0).
// (nth = 0: every call from now on).
void short_transfer(Operation operation, int nth, uint32_t bytes);
// Forgets every fail_call, short_transfer and limit_memory; counts go on.
void clear_faults();
// Allocations larger than `bytes` fail; the first `count` smaller ones
// succeed and the rest fail (count < 0: no limit).
void limit_memory(size_t bytes, int count);
// Calls of `operation` since the last reset, failed ones included.
int call_count(Operation operation);
// Runs `action` just before the `nth` call of `operation` (counted as
// call_count counts them) does its work, once: a test plants a link or
// changes a file between two steps of the program.
void before_call(Operation operation, int nth, std::function<void()> action);

// Environment variables seen by the program.
void set_environment(const char *name, const nstring &value);
// Whether standard output counts as a terminal (false after reset).
void set_terminal(bool is_terminal);
// Whether progress_window_open succeeds (true after reset).
void set_window_available(bool available);
// Progress window calls, as text lines: "open <caption>", "position N",
// "close"; a refused open is recorded too.
std::vector<std::string> window_events();
// platform_copy_file reports progress first with what the destination
// already holds, then after every chunk of this many bytes (65536 default).
void set_copy_chunk(uint32_t bytes);
// The names given to show_help_file, in order.
std::vector<std::string> help_files_shown();
// Interruption calls, as text lines: "install", "watch <temporary|plain>
// <open|opening> <name>" and "end".
std::vector<std::string> watch_events();

} // namespace fake
} // namespace zorov

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

// Empties the file system, the console and the faults; the clocks read 0;
// the current directory is "/work" (POSIX) or "C:\work" (Windows), and it
// exists.
//
// The platform calls behave as the contract suite of the platform layers
// (tests/support) says the real ones do; names are resolved, matched and
// listed by the real layers' own rules, and a name with a component longer
// than a file system takes (255 units) names nothing that can be made or
// found, as a name beyond a path buffer. Drive roots always exist. What is
// the fake's own:
// - A control given a name that must exist and doesn't throws
//   std::invalid_argument, so a mistaken test stops at once.
// - Text written keeps its "\n" line ends on every build, so expected texts
//   are the same everywhere. Writing sets the modification time to the wall
//   clock.
// - Share modes are ignored; a new POSIX file gets its permissions less
//   umask 022.
// - platform_copy_file returns an errno value (ENOENT, EACCES, ENOSPC ...)
//   for the platform's code, and copies permissions and version words too.
// - create_new_file and platform_copy_new_file count as open_file and
//   platform_copy_file calls; rename_made_file counts as a rename_file
//   call; name_standing counts as a file_status call; create_text_in_place
//   counts as a file_status call, an open_text call for the new file, a
//   rename_file call (and a remove_file call when its rename fails);
//   close_text counts as a flush_text call, and fails when that flush fails.
// - random_number counts up from 0x5eed0000; error_text and system_message
//   are the C library's texts; local_time_text is the wall clock as
//   universal time; help_directory finds "C:\WINDOWS" for the Windows
//   directory.
void reset();

// ------------------------------------------------------------ files

// Creates or refills a file (missing parent directories are created); its
// access and modification times are `modification_seconds`. Refilling keeps
// the file's identity, so its links see the new content.
void add_file(const nstring &name, const std::string &content, int64_t modification_seconds = 0,
              bool read_only = false);
// Creates a directory and its missing parents.
void add_directory(const nstring &name);
// Makes a device node (writes vanish, reads find the end at once) or, with
// `pipe`, a named pipe that no one reads (opening it fails with ENXIO), with
// the given permission bits. Neither is a regular file.
void add_special(const nstring &name, bool pipe, uint32_t permissions = 0666);
// Makes a file's status and length say `size`, while reads give its content
// (a file of /sys or /proc); it takes no disk space.
void set_reported_size(const nstring &name, int64_t size);
// Makes `link` name the very same file as `target` (a hard link).
void add_link(const nstring &link, const nstring &target);
// Makes `link` a symbolic link to `target`, which need not exist.
void add_symbolic_link(const nstring &link, const nstring &target);
// Makes `spelling` another spelling of `target`'s name, as a file system that
// folds letter case accepts it: it opens the same file, but reports an
// identity of its own and is not listed by a directory search.
void add_case_spelling(const nstring &spelling, const nstring &target);
// Moves the current directory (created when missing).
void set_current_directory(const nstring &name);

// Sets a file's attribute bits (attribute_read_only, _hidden, _system ...);
// the read-only bit also clears or restores the write permission.
void set_attributes(const nstring &name, uint32_t attributes);
// Sets the POSIX permission bits; without 0200 the file is read-only.
void set_permissions(const nstring &name, uint32_t permissions);
// Makes an existing file belong to another user.
void set_foreign_owner(const nstring &name);
// The two version words read_file_version reports for the file.
void set_file_version(const nstring &name, uint32_t most, uint32_t least);
// Makes ranges (offset, length) of a file's zeros holes: file_extent reports
// them and file_status counts them out of the allocated bytes. Writes fill
// them; extend_file adds them.
void set_holes(const nstring &name, const std::vector<std::pair<int64_t, int64_t>> &holes);

// Inspection, not counted as calls; links are not followed. A missing name
// has no content; status_of and holes want one that exists.
bool exists(const nstring &name);
bool is_directory(const nstring &name);
bool is_symbolic_link(const nstring &name);
std::string content(const nstring &name);
// What flush_text and close_text of a text stream have handed over of it.
std::string flushed_content(const nstring &name);
FileStatus status_of(const nstring &name);
std::vector<std::pair<int64_t, int64_t>> holes(const nstring &name);
// Every full name of the file system, directories included, but no root.
std::vector<nstring> names();
// A full name of `length` units below the current directory, through
// directories a file system takes, whose final component is "ff".
nstring deep_name(size_t length);
// Descriptors, text streams, directory searches and allocated blocks not
// given back yet.
int open_descriptor_count();
int open_text_count();
int open_search_count();
int allocated_blocks();

// ------------------------------------------------------------ limits

// Writes may add at most `bytes` more bytes in all; a write beyond that moves
// what fits, and one that fits nothing fails with ENOSPC (negative, the
// default: unlimited).
void set_free_space(int64_t bytes);
// New entries may be made while fewer than `entries` names exist; beyond
// that a new one is ENOSPC (negative, the default: unlimited).
void set_entry_limit(int entries);
// From the given number of platform calls on, every call fails with EIO, so
// a run whose work grows without bound (a fuzzed command line) winds down
// through its error paths instead of running for minutes; -1, the default,
// sets no budget.
void set_call_budget(int calls);

// ------------------------------------------------------------ faults

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
  op_write_text,    // write_text
  op_flush_text,    // flush_text, and close_text's flush
  op_read_text,     // read_text_line while text is left (it then reads as ended)
  op_operation_count
};

// The `nth` call (1-based, counted from the last reset) of `operation`
// fails with `error_number`; with nth = 0 every call fails from now on.
void fail_call(Operation operation, int nth, int error_number);
// The `nth` read or write (0: every one) moves at most `bytes` bytes; a write
// of 0 bytes then returns 0.
void short_transfer(Operation operation, int nth, uint32_t bytes);
// Allocations larger than `bytes` fail; the first `count` smaller ones
// succeed and the rest fail (count < 0: no limit).
void limit_memory(size_t bytes, int count);
// Forgets every fail_call, short_transfer and limit_memory; counts go on.
void clear_faults();
// Calls of `operation` since the last reset, failed ones included.
int call_count(Operation operation);
// Runs `action` just before the `nth` call of `operation` (counted as
// call_count counts them) does its work, once: a test plants a link or
// changes a file between two steps of the program.
void before_call(Operation operation, int nth, std::function<void()> action);

// ------------------------------------------------- console, clocks, system

// What was written to standard output and standard error; clear_console
// forgets it.
std::string console_output();
std::string console_error();
void clear_console();

// The millisecond clock; each reading also advances it by `step`.
void set_clock(uint32_t milliseconds, uint32_t step = 0);
// The wall clock in seconds; each reading of wall_seconds also advances it by
// `step`. Files written through the platform get its time.
void set_wall_clock(int64_t seconds, int64_t step = 0);
// Every pause the engine asks for, in order, a pause of 0 included, so that
// tests see where the engine pauses on either platform. A pause of n moves
// the millisecond clock on by n.
std::vector<uint32_t> pauses();
// Timer resolution requests in order: "begin" and "end".
std::vector<std::string> timer_events();

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
// The texts show_help_text took (in the POSIX build on a terminal), in order.
std::vector<std::string> help_texts_shown();
// Interruption calls, as text lines: "install", "watch <temporary|plain>
// <open|opening> <name>" (a plain one followed by " marked <seconds>", the
// time an interruption gives it) and "end".
std::vector<std::string> watch_events();

} // namespace fake
} // namespace zorov

// Controls of the in-memory platform that stands in for the operating system
// in the unit tests: files and directories in memory, a fake clock, captured
// console output, and faults injected into the Nth call of an operation.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>
#include <string>
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
void reset();

void add_file(const nstring &name, const std::string &content, int64_t modification_seconds = 0,
              bool read_only = false);
void add_directory(const nstring &name);
bool exists(const nstring &name);
bool is_directory(const nstring &name);
bool is_read_only(const nstring &name);
std::string content(const nstring &name);
FileStatus status_of(const nstring &name);
// Makes `link` name the very same file as `target` (a hard link).
void add_link(const nstring &link, const nstring &target);

// What was written to standard output and standard error.
std::string console_output();
std::string console_error();
void clear_console();

// The millisecond clock; each reading also advances it by `step` (0 default).
void set_clock(uint32_t milliseconds, uint32_t step = 0);
// The wall clock in seconds.
void set_wall_clock(int64_t seconds);
// Every pause requested, in order (0 for a yield).
std::vector<uint32_t> pauses();

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
  op_operation_count
};

// The `nth` call (1-based, counted from the last reset) of `operation`
// fails with `error_number`; with nth = 0 every call fails from now on.
void fail_call(Operation operation, int nth, int error_number);
// The `nth` read or write moves at most `bytes` bytes (a write of 0 bytes
// then returns 0).
void short_transfer(Operation operation, int nth, uint32_t bytes);
// Allocations larger than `bytes` fail; the first `count` smaller ones
// succeed and the rest fail (count < 0: no limit).
void limit_memory(size_t bytes, int count);
int call_count(Operation operation);

// Environment variables seen by the program.
void set_environment(const char *name, const nstring &value);
// Whether standard output counts as a terminal.
void set_terminal(bool is_terminal);
// Progress window calls, as text lines: "open <caption>", "position N",
// "close".
std::vector<std::string> window_events();

} // namespace fake
} // namespace zorov

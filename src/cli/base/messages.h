// The message and log channels. Every text the program shows or logs leaves
// through these functions; nothing else prints.
//
// Formats are narrow printf-style texts with these conversions:
//   %ls  a native name (const nchar *), shown in the console's character set
//   %s   narrow text (const char *)
//   %c   a character (int)
//   %d %u %x and %ld %lu  32-bit values (int32_t / uint32_t)
//   %I64d                  a 64-bit value (int64_t)
// with the usual flags, width and precision, and %% for a percent sign.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdarg>
#include <string>

namespace zorov {

// The LogFile and the CopiedList, or null. A stream that refuses a write is
// closed and becomes null at once.
extern TextStream *log_file;
extern TextStream *copied_list;

// Opens the LogFile `name` for appending, closing an earlier one; true when
// it opened. A name that leaves no room in a path buffer for `reserved`
// more characters is refused like one that can't be opened.
bool open_log_file(const nstring &name, size_t reserved);

// Makes the CopiedList `name` afresh, closing an earlier one: a new file of
// the program's own that takes the name's place, never written through a
// link planted there. True when it opened; a name too long for a path
// buffer is refused.
bool open_copied_list(const nstring &name);

std::string format_text(const char *format, ...);

// Standard output, whatever quiet says.
void print_output(const char *format, ...);
// Standard error, whatever quiet says.
void print_error(const char *format, ...);
// The LogFile, when open.
void print_log(const char *format, ...);

// The report rule on standard output: the console unless quiet, then the
// same text to the LogFile when open.
void report_output(const char *format, ...);
// The report rule on standard error (the mirrored rule).
void report_error(const char *format, ...);

// The runtime's text for `error_number` and a line end on standard error,
// as perror with an empty prefix prints it.
void print_error_text(int error_number);

// One line of the CopiedList: the name and "\n". A name that one line
// can't carry exactly (a line feed in it, a carriage return at its end)
// would name other files when the list is read back: it gets no line, the
// console and the LogFile say so, and the result is false.
bool record_copied(const nchar *source);

// A directory that can't be read, by its full name, with the system's
// reason, by the report rule on standard output.
void report_unreadable_directory(const nstring &full_name, int error_number);

// " Insufficient Memory" on the console whatever quiet says (standard
// output under batch, else standard error) and its LogFile twin; then the
// logs are closed and the run ends with level_stopped.
[[noreturn]] void stop_without_memory();

// Closes the LogFile, then the CopiedList; nothing is written to them later.
// A close that tells of lost text is reported as a refused write is.
void close_logs();

} // namespace zorov

#include "cli/base/messages.h"

#include "cli/base/error_level.h"
#include "cli/base/options.h"
#include "platform/path_syntax.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zorov {

TextStream *log_file = nullptr;
TextStream *copied_list = nullptr;

namespace {

nstring log_file_name;
nstring copied_list_name;

// One conversion of a format: "%", flags, width, precision, length, letter.
struct Conversion {
  std::string flags_width_precision;
  std::string length;
  char letter = 0;
  size_t end = 0; // index after the letter
};

bool parse_conversion(const char *format, size_t start, Conversion *conversion) {
  size_t i = start + 1;
  while (format[i] && std::strchr("-+ #0", format[i]))
    ++i;
  while (format[i] >= '0' && format[i] <= '9')
    ++i;
  if (format[i] == '.') {
    ++i;
    while (format[i] >= '0' && format[i] <= '9')
      ++i;
  }
  conversion->flags_width_precision.assign(format + start + 1, i - start - 1);
  if (std::strncmp(format + i, "I64", 3) == 0) {
    conversion->length = "I64";
    i += 3;
  } else if (format[i] == 'l' && format[i + 1] == 'l') {
    conversion->length = "ll";
    i += 2;
  } else if (format[i] == 'l' || format[i] == 'h') {
    conversion->length.assign(1, format[i]);
    ++i;
  }
  if (!format[i])
    return false;
  conversion->letter = format[i];
  conversion->end = i + 1;
  return true;
}

// The last named parameter is a plain pointer: va_start on a reference is
// undefined.
void append_formatted(std::string *out, const char *directive, ...) {
  va_list arguments;
  va_start(arguments, directive);
  char small[128];
  va_list copy;
  va_copy(copy, arguments);
  int needed = std::vsnprintf(small, sizeof small, directive, copy);
  va_end(copy);
  if (needed < 0) {
    va_end(arguments);
    return;
  }
  if (size_t(needed) < sizeof small) {
    out->append(small, size_t(needed));
  } else {
    std::string large(size_t(needed) + 1, '\0');
    std::vsnprintf(&large[0], large.size(), directive, arguments);
    out->append(large.data(), size_t(needed));
  }
  va_end(arguments);
}

void append_conversion(std::string *out, const Conversion &conversion, va_list *arguments) {
  std::string directive = "%" + conversion.flags_width_precision;
  switch (conversion.letter) {
  case 's':
    if (conversion.length == "l") {
      const nchar *name = va_arg(*arguments, const nchar *);
      std::string narrow = name ? narrow_text(name) : std::string("(null)");
      append_formatted(out, (directive + "s").c_str(), narrow.c_str());
    } else {
      const char *text = va_arg(*arguments, const char *);
      append_formatted(out, (directive + "s").c_str(), text ? text : "(null)");
    }
    return;
  case 'c':
    append_formatted(out, (directive + "c").c_str(), va_arg(*arguments, int));
    return;
  case 'd':
  case 'i':
    if (conversion.length == "I64" || conversion.length == "ll") {
      long long value = va_arg(*arguments, int64_t);
      append_formatted(out, (directive + "lld").c_str(), value);
    } else {
      // %d and %ld alike are 32-bit values here.
      append_formatted(out, (directive + "d").c_str(), va_arg(*arguments, int32_t));
    }
    return;
  case 'u':
  case 'x':
  case 'X':
    if (conversion.length == "I64" || conversion.length == "ll") {
      unsigned long long value = va_arg(*arguments, uint64_t);
      append_formatted(out, (directive + "ll" + conversion.letter).c_str(), value);
    } else {
      append_formatted(out, (directive + conversion.letter).c_str(), va_arg(*arguments, uint32_t));
    }
    return;
  case 'p':
    append_formatted(out, (directive + "p").c_str(), va_arg(*arguments, void *));
    return;
  default:
    out->append("%");
    out->append(conversion.flags_width_precision);
    out->push_back(conversion.letter);
  }
}

void write_console(ConsoleStream stream, const std::string &text) {
  console_write(stream, text.data(), text.size());
}

// A log that lost text is given up at once, whatever its close says: one
// that ends where the system refused it misleads less than one with a hole
// in it, and so the loss is told once. The run's exit code stays as it is:
// it tells how the copies went, and a log that can't be written changes
// none of them.
void give_up(TextStream **stream) {
  TextStream *lost = *stream;
  *stream = nullptr;
  close_text(lost);
}

void tell_unwritable(const nstring &name, int error_number) {
  if (!options.quiet)
    write_console(console_error, format_text("%ls: Unable to write.  %s\n", name.c_str(),
                                             error_text(error_number).c_str()));
}

void log_file_lost(int error_number) {
  tell_unwritable(log_file_name, error_number);
  if (!options.quiet)
    write_console(console_error, "Logging will be disabled.\n");
}

// A line is handed to the system once it is complete, so that a run that is
// interrupted or crashes keeps every line it finished.
void write_log(const std::string &text) {
  if (!log_file)
    return;
  bool complete = text.find('\n') != std::string::npos;
  if (write_text(log_file, text.data(), text.size()) == 0 &&
      (!complete || flush_text(log_file) == 0))
    return;
  int error_number = errno;
  give_up(&log_file);
  log_file_lost(error_number);
}

// As when the CopiedList can't be opened, the LogFile is told too.
void copied_list_lost(int error_number) {
  tell_unwritable(copied_list_name, error_number);
  const std::string disabled = "Logging of copied files will be disabled.\n";
  if (!options.quiet)
    write_console(console_error, disabled);
  write_log(disabled);
}

// The text of a printf-style format with its arguments, by the
// conversions the messages use.
std::string format_text_list(const char *format, va_list arguments) {
  std::string out;
  va_list work;
  va_copy(work, arguments);
  size_t i = 0;
  while (format[i]) {
    const char *percent = std::strchr(format + i, '%');
    if (!percent) {
      out.append(format + i);
      break;
    }
    out.append(format + i, size_t(percent - (format + i)));
    i = size_t(percent - format);
    if (format[i + 1] == '%') {
      out.push_back('%');
      i += 2;
      continue;
    }
    Conversion conversion;
    if (!parse_conversion(format, i, &conversion)) {
      out.append(format + i);
      break;
    }
    append_conversion(&out, conversion, &work);
    i = conversion.end;
  }
  va_end(work);
  return out;
}

} // namespace

std::string format_text(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = format_text_list(format, arguments);
  va_end(arguments);
  return text;
}

void print_output(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_console(console_output, format_text_list(format, arguments));
  va_end(arguments);
}

void print_error(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  write_console(console_error, format_text_list(format, arguments));
  va_end(arguments);
}

void print_log(const char *format, ...) {
  if (!log_file)
    return;
  va_list arguments;
  va_start(arguments, format);
  write_log(format_text_list(format, arguments));
  va_end(arguments);
}

namespace {

// A report reaches the console unless the run is quiet, and the LogFile.
void report_text(ConsoleStream stream, const std::string &text) {
  if (!options.quiet)
    write_console(stream, text);
  write_log(text);
}

} // namespace

void report_output(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = format_text_list(format, arguments);
  va_end(arguments);
  report_text(console_output, text);
}

void report_error(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = format_text_list(format, arguments);
  va_end(arguments);
  report_text(console_error, text);
}

void print_error_text(int error_number) {
  write_console(console_error, error_text(error_number) + "\n");
}

namespace {

// A name that a line read back would not give exactly: a line feed would
// make two names of it, a carriage return at its end goes with the line end.
bool fits_one_line(const std::string &name) {
  return name.find('\n') == std::string::npos && name.find('\0') == std::string::npos &&
         (name.empty() || name.back() != '\r');
}

} // namespace

bool record_copied(const nchar *source) {
  if (!copied_list)
    return true;
  std::string name = narrow_text(source);
  if (!fits_one_line(name)) {
    report_output("%ls: Name can't be one line of the copied files list; not listed.\n", source);
    return false;
  }
  std::string line = name + "\n";
  if (write_text(copied_list, line.data(), line.size()) == 0 && flush_text(copied_list) == 0)
    return true;
  int error_number = errno;
  give_up(&copied_list);
  copied_list_lost(error_number);
  return true;
}

void report_unreadable_directory(const nstring &full_name, int error_number) {
  report_output("%ls: Unable to read directory.  %s\n", full_name.c_str(),
                error_text(error_number).c_str());
}

void stop_without_memory() {
  if (options.batch)
    print_output(" Insufficient Memory\n");
  else
    print_error(" Insufficient Memory\n");
  print_log(" Insufficient memory\n");
  close_logs();
  exit_process(level_stopped);
}

bool open_log_file(const nstring &name, size_t reserved) {
  if (log_file)
    close_text(log_file);
  log_file =
      fits_path_buffer(name.size() + reserved) ? open_text(name.c_str(), text_append) : nullptr;
  log_file_name = name;
  return log_file != nullptr;
}

bool open_copied_list(const nstring &name) {
  if (copied_list)
    close_text(copied_list);
  copied_list = fits_path_buffer(name) ? create_text_in_place(name.c_str()) : nullptr;
  copied_list_name = name;
  return copied_list != nullptr;
}

void close_logs() {
  if (log_file) {
    TextStream *closing = log_file;
    log_file = nullptr;
    if (close_text(closing) != 0)
      log_file_lost(errno);
  }
  if (copied_list) {
    TextStream *closing = copied_list;
    copied_list = nullptr;
    if (close_text(closing) != 0)
      copied_list_lost(errno);
  }
}

} // namespace zorov

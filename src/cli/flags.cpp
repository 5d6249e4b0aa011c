// The flag parser: the leading flags of the command line, read strictly left
// to right into the run settings record.
#include "cli/flags.h"

#include "cli/base/error_level.h"
#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "naming/exclusion.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <string>

namespace zorov {

namespace {

// The run's settings, which the flags fill; after the parser everything
// only reads them.
CopyOptions &settings = options_to_fill();

// Room for the name of the CopiedList beside the LogFile's name.
const size_t kCopiedSuffixLength = 4;
const nchar kCopiedSuffix[] = NT(".fil");

const char kArchiveConflict[] =
    "Can not use -E (copy to end) in conjunction with \nthe -A (archive) flag.\n";
const char kForksConflict[] = "Can not use -E (Copy to end) in conjunction with -F (Copy Forks).\n";
const char kGenerationsConflict[] =
    "Can not use -E (copy to end) in conjunction with \nthe -G (archive) flag.\n";

// The messages of one direction of pacing.
struct PacingTexts {
  const char *not_specified;
  const char *interval_invalid;
  const char *size_invalid;
  const char *other_direction_on;
  const char *too_long;
  const char *console_confirmation;
  const char *log_confirmation;
};

const PacingTexts kInputPacing = {
    "Input pacing interval not specified.  Input pacing disabled.\n",
    "Input pacing interval <=0.  Input pacing disabled.\n",
    "Input pacing size <=0.  Input pacing disabled.\n",
    "Output pacing previously specified.  Input pacing disabled.\n",
    "Input pacing text too long.  Input pacing disabled.\n",
    "Input pacing set o %ld bytes / %ld milliseconds.\n",
    "Input Pacing set to %ld bytes / %ld milliseconds.\n",
};

const PacingTexts kOutputPacing = {
    "Output pacing not specified.  Output pacing disabled.\n",
    "Output pacing interval <= 0.  Output pacing disabled.\n",
    "Output pacing size <= 0.  Output pacing disabled.\n",
    "Input pacing previously specified.  Output pacing disabled.\n",
    "Output pacing text too long.  Output pacing disabled.\n",
    "Pace output to %ld bytes / %ld milliseconds.\n",
    "Output pacing set to %ld bytes / %ld milliseconds.\n",
};

// The settings one direction of pacing writes.
struct PacingFields {
  bool *on;
  uint32_t *bytes;
  int32_t *interval_ms;
  const bool *other_on;
  const PacingTexts *texts;
};

// Where the scan of one command line stands.
struct Scan {
  int argc;
  nchar **argv;
  int index;       // the argument being read
  bool flag_error; // an unknown or conflicting flag was seen
};

bool is_blank(nchar c) {
  return c == NT(' ') || c == NT('\t') || c == NT('\n') || c == NT('\v') || c == NT('\f') ||
         c == NT('\r');
}

size_t text_length(const nchar *text) { return std::char_traits<nchar>::length(text); }

// Windows also accepts the `/` spelling of flags; elsewhere such an
// argument is a path.
bool is_flag(const nchar *argument) {
  if (argument[0] == NT('-'))
    return true;
  return slash_begins_flags(native_path_style) && argument[0] == NT('/');
}

// A decimal number read as wcstol reads it, clamped to the 32-bit range.
int32_t read_number(const nchar *text) {
  const int64_t kCeiling = int64_t(1) << 32; // beyond both ends of the range
  while (is_blank(*text))
    ++text;
  bool negative = *text == NT('-');
  if (*text == NT('-') || *text == NT('+'))
    ++text;
  int64_t value = 0;
  for (; *text >= NT('0') && *text <= NT('9'); ++text)
    if (value < kCeiling)
      value = value * 10 + (*text - NT('0'));
  if (negative)
    value = -value;
  if (value > INT32_MAX)
    return INT32_MAX;
  if (value < INT32_MIN)
    return INT32_MIN;
  return int32_t(value);
}

void note_flag_error(Scan *scan, const char *message) {
  report_error(message);
  scan->flag_error = true;
}

// C, N and W: an R suffix asks for existing targets only; otherwise a
// positive number is the time tolerance.
void read_tolerance(const nchar *text) {
  if (ascii_upper(text[0]) == NT('R')) {
    settings.existing_only = 1;
    return;
  }
  int32_t seconds = read_number(text);
  if (seconds > 0)
    settings.time_tolerance_seconds = seconds;
}

void read_generations(const nchar *argument) {
  settings.generations = read_number(argument + 2);
  settings.archive = true;
  if (settings.generations < 1) {
    settings.generations = 5;
    report_error("%ls Invalid.  5 generations will be saved.\n", argument);
  } else if (settings.generations > 99) {
    settings.generations = 99;
    report_error("%ls Invalid.  99 generations will be saved.\n", argument);
  }
}

// Up to 63 the number counts kilobytes, from 64 on bytes; 0 keeps the size.
void read_block_size(const nchar *text) {
  uint32_t number = uint32_t(read_number(text));
  settings.block_size_arg = number;
  if (number >= 1 && number <= 63)
    settings.block_size = number * 1024u;
  else if (number >= 64)
    settings.block_size = number;
}

PacingFields input_pacing() {
  return {&settings.pace_input, &settings.pace_input_bytes, &settings.pace_input_interval_ms,
          &settings.pace_output, &kInputPacing};
}

PacingFields output_pacing() {
  return {&settings.pace_output, &settings.pace_output_bytes, &settings.pace_output_interval_ms,
          &settings.pace_input, &kOutputPacing};
}

// "N[K]/S": N bytes (kilobytes with K) every S seconds. A failing part
// switches this pacing off without making the flag an error.
void read_pacing(const nchar *text, const PacingFields &pacing) {
  size_t length = text_length(text);
  if (!fits_path_buffer(length)) {
    *pacing.on = false;
    report_error(pacing.texts->too_long);
    return;
  }
  nstring size_text(text, length);
  size_t slash = size_text.find(NT('/'));
  if (slash == nstring::npos) {
    *pacing.on = false;
    report_error(pacing.texts->not_specified);
    return;
  }
  bool refused = false;
  *pacing.interval_ms = int32_t(uint32_t(read_number(size_text.c_str() + slash + 1)) * 1000u);
  if (*pacing.interval_ms <= 0) {
    *pacing.on = false;
    refused = true;
    report_error(pacing.texts->interval_invalid);
  }
  size_text.resize(slash);
  uint32_t multiplier = 1;
  if (slash > 0 && ascii_upper(size_text[slash - 1]) == NT('K')) {
    size_text.resize(slash - 1);
    multiplier = 1024;
  }
  if (!refused)
    *pacing.on = true;
  // The size is tested after the multiplier: kilobytes that wrap around to
  // nothing would otherwise pace with empty blocks.
  *pacing.bytes = uint32_t(read_number(size_text.c_str())) * multiplier;
  if (*pacing.bytes == 0) {
    *pacing.on = false;
    report_error(pacing.texts->size_invalid);
  }
  if (*pacing.other_on) {
    *pacing.on = false;
    report_error(pacing.texts->other_direction_on);
    return;
  }
  if (!settings.quiet)
    print_error(pacing.texts->console_confirmation, int32_t(*pacing.bytes), *pacing.interval_ms);
  print_log(pacing.texts->log_confirmation, int32_t(*pacing.bytes), *pacing.interval_ms);
}

// The CopiedList's name is made here: the LogFile's and ".fil". A name too
// long for a path buffer is refused like one that can't be opened.
void open_copied_list_beside(const nchar *log_name) {
  nstring name = nstring(log_name) + kCopiedSuffix;
  if (open_copied_list(name)) {
    print_log("Copied files will be logged to %ls\n", name.c_str());
    return;
  }
  if (!settings.quiet)
    print_error("Unable to Open %ls\n", name.c_str());
  report_error("Logging of copied files will be disabled.\n");
}

// -l opens the LogFile; -L also the CopiedList beside it. A LogFile of an
// earlier -l is closed, so that it keeps what it was given.
void open_logs(const nchar *argument) {
  const nchar *name = argument + 2;
  if (*name == NT('=') || *name == NT(' '))
    ++name;
  bool with_copied_list = argument[1] == NT('L');
  // The LogFile's name leaves room for the CopiedList's suffix.
  size_t reserved = with_copied_list ? kCopiedSuffixLength : 0;
  if (open_log_file(name, reserved)) {
    print_log("%s", local_time_text().c_str());
  } else {
    print_error("Unable to Open %ls\n", name);
    print_error("Logging will be disabled.  Quiet will be disabled.\n");
    settings.quiet = false;
  }
  if (with_copied_list)
    open_copied_list_beside(name);
}

[[noreturn]] void refuse_exclusion(const nchar *argument) {
  print_error("%ls <=== Invalid.\n", argument);
  exit_process(level_stopped);
}

// A later -x replaces the list of an earlier one.
void use_exclusions(const nchar *text) {
  ExclusionNode *list = build_exclusion_list(text);
  release_exclusion_list(settings.exclusions);
  settings.exclusions = list;
}

// -x takes its list from the next argument, -x= from its own text. A bare
// -x with nothing after it has no list, which is a malformed -x too.
void read_exclusions(Scan *scan) {
  const nchar *argument = scan->argv[scan->index];
  if (argument[2] == 0) {
    if (scan->index + 1 >= scan->argc)
      refuse_exclusion(argument);
    ++scan->index;
    use_exclusions(scan->argv[scan->index]);
    return;
  }
  if (argument[2] != NT('='))
    refuse_exclusion(argument);
  use_exclusions(argument + 3);
}

// One handler a flag letter; each gets the whole argument.
typedef void (*FlagHandler)(Scan *scan, const nchar *argument);

nchar suffix_of(const nchar *argument) { return ascii_upper(argument[2]); }

void flag_archive(Scan *scan, const nchar *) {
  if (settings.append)
    note_flag_error(scan, kArchiveConflict);
  else
    settings.archive = true;
}

void flag_batch(Scan *, const nchar *) { settings.batch = true; }

void flag_changed(Scan *, const nchar *argument) {
  settings.changed_only = 1;
  read_tolerance(argument + 2);
}

void flag_report_buffers(Scan *, const nchar *) { settings.report_buffers = true; }

void flag_append(Scan *scan, const nchar *) {
  if (settings.platform_copy)
    note_flag_error(scan, kForksConflict);
  else
    settings.append = true;
}

void flag_platform_copy(Scan *scan, const nchar *) {
  if (settings.append)
    note_flag_error(scan, kForksConflict);
  else
    settings.platform_copy = true;
}

void flag_generations(Scan *scan, const nchar *argument) {
  if (settings.append)
    note_flag_error(scan, kGenerationsConflict);
  else
    read_generations(argument);
}

void flag_hidden(Scan *, const nchar *argument) {
  settings.copy_hidden = true;
  if (argument[2] == NT('+'))
    settings.set_hidden_attributes = true;
}

void flag_identify_or_input_pacing(Scan *, const nchar *argument) {
  if (suffix_of(argument) == NT('D'))
    settings.identify_only = true;
  else
    read_pacing(argument + 2, input_pacing());
}

void flag_block_size(Scan *, const nchar *argument) { read_block_size(argument + 2); }

void flag_log(Scan *, const nchar *argument) {
  if (argument[2] == NT('-'))
    settings.log_up_to_date = false;
  else
    open_logs(argument);
}

void flag_move(Scan *, const nchar *) { settings.move = true; }

void flag_newer(Scan *, const nchar *argument) {
  settings.newer_only = 1;
  read_tolerance(argument + 2);
}

void flag_overwrite_or_output_pacing(Scan *, const nchar *argument) {
  nchar suffix = suffix_of(argument);
  if (suffix == 0)
    settings.overwrite_read_only = true;
  else if (suffix == NT('S'))
    settings.safe_overwrite = true;
  else
    read_pacing(argument + 2, output_pacing());
}

void flag_checkpoint(Scan *, const nchar *argument) {
  settings.checkpoint = true;
  if (suffix_of(argument) == NT('R'))
    settings.restart = true;
}

void flag_quiet(Scan *, const nchar *) { settings.quiet = true; }

void flag_existing(Scan *, const nchar *argument) {
  settings.existing_only = 1;
  nchar suffix = suffix_of(argument);
  if (suffix == NT('C'))
    settings.changed_only = 1;
  else if (suffix == NT('N'))
    settings.newer_only = 1;
}

void flag_recurse(Scan *, const nchar *argument) {
  settings.recurse = true;
  if (suffix_of(argument) == NT('V'))
    settings.verbose_recursion = true;
}

void flag_timing(Scan *, const nchar *) { settings.timing = true; }

void flag_versions(Scan *, const nchar *argument) {
  settings.newer_only = 1;
  settings.compare_versions = 1;
  read_tolerance(argument + 2);
}

void flag_exclusions(Scan *scan, const nchar *) { read_exclusions(scan); }

// The flag table, by letter (upper-cased); letters without a row are unknown.
// The spellings are those a user types, a number or a name following some
// of them; the shell completion is made from them.
struct FlagRow {
  nchar letter;
  FlagHandler handler;
  const char *spellings;
};

const FlagRow kFlagTable[] = {
    {NT('A'), flag_archive, "-a"},
    {NT('B'), flag_batch, "-b"},
    {NT('C'), flag_changed, "-c -cr"},
    {NT('D'), flag_report_buffers, "-d"},
    {NT('E'), flag_append, "-e"},
    {NT('F'), flag_platform_copy, "-f"},
    {NT('G'), flag_generations, "-g"},
    {NT('H'), flag_hidden, "-h -h+"},
    {NT('I'), flag_identify_or_input_pacing, "-i -id"},
    {NT('K'), flag_block_size, "-k"},
    {NT('L'), flag_log, "-l -l- -L"},
    {NT('M'), flag_move, "-m"},
    {NT('N'), flag_newer, "-n -nr"},
    {NT('O'), flag_overwrite_or_output_pacing, "-o -os"},
    {NT('P'), flag_checkpoint, "-p -pr"},
    {NT('Q'), flag_quiet, "-q"},
    {NT('R'), flag_existing, "-r -rc -rn"},
    {NT('S'), flag_recurse, "-s -sv"},
    {NT('T'), flag_timing, "-t"},
    {NT('W'), flag_versions, "-w -wr"},
    {NT('X'), flag_exclusions, "-x -x="},
};

FlagHandler handler_of(nchar letter) {
  for (const FlagRow &row : kFlagTable)
    if (row.letter == letter)
      return row.handler;
  return nullptr;
}

void read_flag(Scan *scan) {
  const nchar *argument = scan->argv[scan->index];
  nchar letter = ascii_upper(argument[1]);
  FlagHandler handler = letter == 0 ? nullptr : handler_of(letter);
  if (!handler) {
    report_error("%ls <=== Unknown Flag.\n", argument);
    scan->flag_error = true;
    return;
  }
  handler(scan, argument);
}

[[noreturn]] void stop_for_flag_errors() {
  const char *message = "ZOROV is stopping due to unknown/invalid flags!\n";
  print_error(message);
  print_log(message);
  close_logs();
  exit_process(level_bad_flags);
}

void echo_command_line(int argc, nchar **argv) {
  if (!log_file)
    return;
  for (int i = 0; i < argc; ++i)
    print_log("%ls ", argv[i]);
  print_log("\n");
}

} // namespace

void parse_flags(int argc, nchar **argv) {
  Scan scan = {argc, argv, 1, false};
  while (scan.index < argc && is_flag(argv[scan.index])) {
    read_flag(&scan);
    ++scan.index;
  }
  settings.first_operand = scan.index;
  if (scan.flag_error)
    stop_for_flag_errors();
  echo_command_line(argc, argv);
}

std::string flag_spellings() {
  std::string spellings;
  for (const FlagRow &row : kFlagTable)
    spellings += (spellings.empty() ? "" : " ") + std::string(row.spellings);
  return spellings;
}

} // namespace zorov

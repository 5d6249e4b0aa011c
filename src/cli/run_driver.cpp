#include "cli/run_driver.h"

#include "cli/flags.h"
#include "cli/help.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "decide/file_job.h"
#include "engine/buffer_pool.h"
#include "naming/path_probe.h"
#include "naming/sources.h"
#include "naming/tree_copy.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"
#include "progress/progress.h"

#include <cerrno>

namespace zorov {

int32_t source_end = 0;
int32_t target_cursor = 0;
TextStream *target_list_file = nullptr;
int32_t target_error = 0;
int32_t last_result = 0;
int32_t worst_result = 0;
bool pool_ready = false;
int32_t run_block_size = 65024;

namespace {

// State of the current target.
nstring target_path;
bool target_is_directory = false;
bool target_not_directory = false;

// Source enumeration state, handed to next_source.
int source_cursor = 0;
bool wildcard_active = false;
TextStream *source_list_file = nullptr;

bool is_target_keyword(const nchar *argument) {
  static const char keyword[] = "-TO";
  for (int i = 0; i < 3; ++i) {
    if (ascii_upper(argument[i]) != nchar(keyword[i]))
      return false;
  }
  return argument[3] == 0;
}

// "Unable to create destination directory" with the system's reason. When
// `reason_always` is set the reason is shown even under quiet.
void report_directory_failure(int error_number, bool reason_always) {
  if (!options.quiet)
    print_output("%ls: Unable to create destination directory.\n", target_path.c_str());
  print_log("%ls: Unable to create destination directory.\n", target_path.c_str());
  if (!options.quiet || reason_always)
    print_error_text(error_number);
}

void report_not_directory() {
  const char *text = "%ls <=== target not a directory.\n";
  if (!options.quiet) {
    if (options.batch)
      print_output(text, target_path.c_str());
    else
      print_error(text, target_path.c_str());
  }
  print_log(text, target_path.c_str());
}

// Creates the missing target directory; false (with its messages) on failure.
bool create_target_directory(bool reason_always) {
  if (make_directory_path(&target_path) != 0) {
    report_directory_failure(errno, reason_always);
    return false;
  }
  target_is_directory = true;
  report_output("Directory: %ls has been created.\n", target_path.c_str());
  return true;
}

// Removes one trailing separator; a drive root keeps its letter and colon,
// the POSIX root its slash.
void drop_trailing_separator(nstring *path) {
  if (path->size() > 1 && is_separator(path->back(), native_path_style))
    path->pop_back();
}

bool must_be_directory(nchar **argv) {
  int first = options.first_operand;
  if (source_end - first > 1)
    return true;
  return argv[first][0] == NT('@') && probe_path(argv[first]) == 0;
}

// Resolves and classifies one target, creating it where the rules ask.
// False when the target is rejected.
bool prepare_target(const nstring &name, nchar **argv) {
  target_not_directory = false;
  if (resolve_full_path(name.c_str(), &target_path) != 0) {
    report_output("%ls: Invalid destination.\n", name.c_str());
    target_error = 8;
    return false;
  }
  last_result = 0;
  int kind = probe_path(target_path.c_str());
  if (kind == 1) {
    target_is_directory = true;
    drop_trailing_separator(&target_path);
  } else {
    target_is_directory = false;
    if (ends_with_separator(name, native_path_style) && !options.identify_only &&
        !create_target_directory(false)) {
      target_error = 8;
      return false;
    }
  }
  if (!must_be_directory(argv) || target_is_directory)
    return true;
  if (kind != 0)
    target_not_directory = true;
  else if (!options.identify_only && !create_target_directory(true))
    target_not_directory = true;
  if (target_not_directory) {
    report_not_directory();
    target_error = 9;
    return false;
  }
  return true;
}

void prepare_pool() {
  if (pool_ready)
    return;
  run_block_size = int32_t(allocate_buffer_pool(options.checkpoint));
  if (options.block_size < uint32_t(run_block_size))
    run_block_size = int32_t(options.block_size);
  if (options.block_size_arg != 0) {
    if (!options.quiet && !options.batch)
      print_output("BLOCKSIZE = %u\n", run_block_size);
    print_log("BLOCKSIZE = %u\n", run_block_size);
  }
  pool_ready = true;
}

// Copies one source that is not a directory to the current target.
int copy_source_file(const nstring &source, int argc) {
  nstring destination = target_path;
  if (target_is_directory)
    destination =
        join_path(target_path, file_name_part(source, native_path_style), native_path_style);
  nstring full_source, full_destination;
  if (resolve_full_path(source.c_str(), &full_source) != 0) {
    report_output("%ls: Invalid source name.\n", source.c_str());
    return 1;
  }
  if (resolve_full_path(destination.c_str(), &full_destination) != 0) {
    report_output("%ls: Invalid destination.\n", destination.c_str());
    return 1;
  }
  return copy_one_file(full_destination, full_source, target_is_directory ? 1 : 0, argc);
}

void copy_sources(int argc, nchar **argv) {
  source_cursor = options.first_operand;
  nstring source;
  while (
      next_source(&source, source_end, argv, &wildcard_active, &source_cursor, &source_list_file)) {
    if (probe_path(source.c_str()) == 1)
      last_result = copy_tree(source, target_path, argc);
    else
      last_result = copy_source_file(source, argc);
    if (last_result > worst_result)
      worst_result = last_result;
  }
}

[[noreturn]] void finish_run() {
  free_buffer_pool();
  end_timer_resolution();
  int32_t level = form_error_level(last_result, target_error, worst_result);
  print_log("Error Level %d\n", level);
  close_logs();
  // A window the last copy left open; harmless when none is.
  close_progress_window();
  if (options.identify_only)
    print_output("%d files, %I64d Bytes\n", identified_files, identified_bytes);
  exit_process(level);
}

} // namespace

int find_target_keyword(int argc, nchar **argv, int first_operand) {
  for (int index = first_operand + 1; index <= argc - 2; ++index)
    if (is_target_keyword(argv[index]))
      return index;
  return 0;
}

bool next_target(nstring *name, int argc, nchar **argv) {
  for (;;) {
    if (target_list_file) {
      // The list was opened by the operand just taken, an `@name`.
      int result = read_response_line(target_list_file, argv[target_cursor - 1] + 1, name);
      if (result > 0)
        return true;
      if (result < 0) {
        target_error = 8;
        continue;
      }
      close_text(target_list_file);
      target_list_file = nullptr;
    }
    if (target_cursor >= argc)
      return false;
    *name = argv[target_cursor];
    target_cursor += 1;
    if (name->empty() || (*name)[0] != NT('@'))
      return true;
    target_list_file = open_text(name->c_str() + 1, text_read);
    if (!target_list_file)
      return true;
  }
}

int32_t form_error_level(int32_t last, int32_t target, int32_t worst) {
  if (last != 0)
    return last;
  if (target != 0)
    return target;
  return worst;
}

void run_copy(int argc, nchar **argv) {
  target_list_file = nullptr;
  install_interrupt_handlers();
  parse_flags(argc, argv);
  if (options.pace_input || options.pace_output)
    begin_timer_resolution();
  int first = options.first_operand;
  int keyword = find_target_keyword(argc, argv, first);
  if (argc - first < 2)
    show_help();
  source_end = keyword ? keyword : argc - 1;
  target_cursor = keyword ? keyword + 1 : argc - 1;
  nstring name;
  while (next_target(&name, argc, argv)) {
    if (!prepare_target(name, argv))
      continue;
    prepare_pool();
    copy_sources(argc, argv);
  }
  finish_run();
}

} // namespace zorov

#include "cli/run_driver.h"

#include "cli/base/error_level.h"
#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "cli/flags.h"
#include "cli/help.h"
#include "decide/file_job.h"
#include "engine/buffer_pool.h"
#include "naming/path_probe.h"
#include "naming/sources.h"
#include "naming/targets.h"
#include "naming/tree_copy.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"
#include "progress/progress.h"

#include <cerrno>

namespace zorov {

namespace {

// What the driver keeps over one run; run_copy owns it.
struct RunState {
  // The sources end before the argument `source_end`; the targets follow.
  int32_t source_end = 0;
  TargetCursor targets;
  // The results that form the error level with the last failed target's:
  // of the last source, and the worst of every source of the run.
  int32_t last_result = 0;
  int32_t worst_result = 0;
  // The copy buffers, set up before the first source of the first target
  // that can be served.
  bool pool_ready = false;
  BufferPool pool;
  IdentifyCounters counters;
  // The target being served.
  nstring target_path;
  bool target_is_directory = false;
};

// "Unable to create destination directory" with the system's reason. When
// `reason_always` is set the reason is shown even under quiet.
void report_directory_failure(const nstring &target_path, int error_number, bool reason_always) {
  if (!options.quiet)
    print_output("%ls: Unable to create destination directory.\n", target_path.c_str());
  print_log("%ls: Unable to create destination directory.\n", target_path.c_str());
  if (!options.quiet || reason_always)
    print_error_text(error_number);
}

void report_not_directory(const nstring &target_path) {
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
// One that another run made meanwhile is taken as it is, without the message.
bool create_target_directory(RunState *run, bool reason_always) {
  int made = make_directory_path(&run->target_path);
  if (made < 0) {
    report_directory_failure(run->target_path, errno, reason_always);
    return false;
  }
  run->target_is_directory = true;
  if (made == 0)
    report_output("Directory: %ls has been created.\n", run->target_path.c_str());
  return true;
}

bool must_be_directory(const RunState &run, nchar **argv) {
  int first = options.first_operand;
  if (run.source_end - first > 1)
    return true;
  return argv[first][0] == NT('@') && probe_path(argv[first]) == 0;
}

// Resolves and classifies the target, creating its directory where the
// name asks for one. False (the target error 8) when it can't be used.
bool resolve_target(RunState *run, const nstring &name, int *kind) {
  if (resolve_full_path(name.c_str(), &run->target_path) != 0) {
    report_output("%ls: Invalid destination.\n", name.c_str());
    run->targets.error = level_stopped;
    return false;
  }
  run->last_result = 0;
  *kind = probe_path(run->target_path.c_str());
  run->target_is_directory = *kind == 1;
  if (*kind == 1) {
    // A drive root keeps its separator: a bare drive would name the drive's
    // current directory, and the files would land there instead.
    drop_trailing_separator(&run->target_path, native_path_style);
    return true;
  }
  if (ends_with_separator(name, native_path_style) && !options.identify_only &&
      !create_target_directory(run, false)) {
    run->targets.error = level_stopped;
    return false;
  }
  return true;
}

// Resolves and classifies one target, creating it where the rules ask.
// False when the target is rejected.
bool prepare_target(RunState *run, const nstring &name, nchar **argv) {
  int kind = 0;
  if (!resolve_target(run, name, &kind))
    return false;
  if (!must_be_directory(*run, argv) || run->target_is_directory)
    return true;
  bool not_directory = kind != 0;
  if (kind == 0 && !options.identify_only && !create_target_directory(run, true))
    not_directory = true;
  if (not_directory) {
    report_not_directory(run->target_path);
    run->targets.error = level_not_directory;
    return false;
  }
  return true;
}

void prepare_pool(RunState *run) {
  if (run->pool_ready)
    return;
  run->pool = allocate_buffer_pool(options.checkpoint);
  if (options.block_size < uint32_t(run->pool.run_block_size))
    run->pool.run_block_size = int32_t(options.block_size);
  if (options.block_size_arg != 0) {
    if (!options.quiet && !options.batch)
      print_output("BLOCKSIZE = %u\n", run->pool.run_block_size);
    print_log("BLOCKSIZE = %u\n", run->pool.run_block_size);
  }
  run->pool_ready = true;
}

// Copies one source that is not a directory to the current target.
int copy_source_file(const RunState &run, const JobContext &job, const nstring &source) {
  nstring destination = run.target_path;
  if (run.target_is_directory)
    destination =
        join_path(run.target_path, file_name_part(source, native_path_style), native_path_style);
  nstring full_source, full_destination;
  if (resolve_full_path(source.c_str(), &full_source) != 0) {
    report_output("%ls: Invalid source name.\n", source.c_str());
    return 1;
  }
  if (resolve_full_path(destination.c_str(), &full_destination) != 0) {
    report_output("%ls: Invalid destination.\n", destination.c_str());
    return 1;
  }
  return copy_one_file(job, full_destination, full_source, run.target_is_directory);
}

void copy_sources(RunState *run, int argc, nchar **argv) {
  JobContext job;
  job.pool = &run->pool;
  // A move deletes its sources while the last target argument is served,
  // every target of a response file named by it included.
  job.last_target = run->targets.next == argc;
  job.counters = &run->counters;
  SourceCursor sources;
  sources.next = options.first_operand;
  nstring source;
  while (next_source(&source, run->source_end, argv, &sources)) {
    if (probe_path(source.c_str()) == 1)
      run->last_result = copy_tree(job, source, run->target_path);
    else
      run->last_result = copy_source_file(*run, job, source);
    if (run->last_result > run->worst_result)
      run->worst_result = run->last_result;
  }
  if (sources.result > run->worst_result)
    run->worst_result = sources.result;
}

[[noreturn]] void finish_run(RunState *run) {
  free_buffer_pool(&run->pool);
  end_timer_resolution();
  int32_t level = form_error_level(run->last_result, run->targets.error, run->worst_result);
  print_log("Error Level %d\n", level);
  close_logs();
  // A window the last copy left open; harmless when none is.
  close_progress_window();
  if (options.identify_only)
    print_output("%d files, %I64d Bytes\n", run->counters.identified_files,
                 run->counters.identified_bytes);
  exit_process(level);
}

} // namespace

void run_copy(int argc, nchar **argv) {
  RunState run;
  install_interrupt_handlers();
  parse_flags(argc, argv);
  if (options.pace_input || options.pace_output)
    begin_timer_resolution();
  int first = options.first_operand;
  int keyword = find_target_keyword(argc, argv, first);
  if (argc - first < 2)
    show_help();
  run.source_end = keyword ? keyword : argc - 1;
  run.targets.next = keyword ? keyword + 1 : argc - 1;
  nstring name;
  while (next_target(&name, argc, argv, &run.targets)) {
    if (!prepare_target(&run, name, argv))
      continue;
    prepare_pool(&run);
    copy_sources(&run, argc, argv);
  }
  finish_run(&run);
}

} // namespace zorov

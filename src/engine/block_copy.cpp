// The buffered block copy: rounds that read up to every buffer of the pool
// and then write them, completing short transfers, pacing reads or writes,
// and keeping the console figure and the progress window up to date.
#include "engine/block_copy.h"

#include "cli/messages.h"
#include "cli/options.h"
#include "cli/run_driver.h"
#include "engine/buffer_pool.h"
#include "engine/copy_entry.h"
#include "progress/progress.h"

#include <cerrno>

namespace zorov {

nstring kept_temporary_name;

namespace {

uint32_t block_bytes() { return uint32_t(run_block_size); }

void spin() {
  if (!options.batch)
    show_spinner();
}

bool name_exists(const nchar *name) {
  FileStatus status;
  return file_status(name, &status) == 0;
}

// ------------------------------------------------------------ pacing

// Waits out the rest of an interval that began at `since`; without pacing
// it is the pause of 0 (a yield where the platform yields). Never waits
// longer than one interval.
void pace(bool paced, int32_t interval_ms, uint32_t since, uint32_t now) {
  if (!paced) {
    pause_milliseconds(0);
    return;
  }
  int32_t passed = int32_t(now - since);
  if (passed >= interval_ms)
    return;
  if (passed < 0)
    passed = 0;
  pause_milliseconds(uint32_t(interval_ms - passed));
}

void input_pause(uint32_t *read_clock) {
  pace(options.pace_input, options.pace_input_interval_ms, *read_clock, milliseconds_now());
  *read_clock = milliseconds_now();
}

void output_pause(uint32_t write_time, uint32_t *write_clock) {
  pace(options.pace_output, options.pace_output_interval_ms, *write_clock, write_time);
  *write_clock = milliseconds_now();
}

// ------------------------------------------------------- transfers

// One write request. A request that moves nothing would repeat forever: it
// is taken as a full disk.
int32_t write_request(int output, const uint8_t *data, uint32_t count) {
  int32_t written = write_file(output, data, count);
  if (written == 0 && count > 0) {
    errno = ENOSPC;
    return -1;
  }
  return written;
}

// Fills `buffer` with one block; short reads are completed so that only the
// last block of the input is short. The bytes read, or -1.
int32_t read_block(int input, uint8_t *buffer) {
  uint32_t block = block_bytes();
  int32_t count = read_file(input, buffer, block);
  spin();
  while (count > 0 && uint32_t(count) < block) {
    int32_t more = read_file(input, buffer + count, block - uint32_t(count));
    spin();
    if (more < 0)
      return -1;
    if (more == 0)
      break;
    count += more;
  }
  return count;
}

// Completes a write of `length` bytes of which `count` went out: `length`,
// or -1.
int32_t complete_write(int output, const uint8_t *buffer, uint32_t length, int32_t count,
                       bool spinner) {
  while (count > 0 && uint32_t(count) < length) {
    int32_t more = write_request(output, buffer + count, length - uint32_t(count));
    if (spinner)
      spin();
    if (more < 0)
      return -1;
    count += more;
  }
  return count;
}

// ---------------------------------------------------------- holes

// Where the input stands among the holes of a sparse source. A block that
// lies wholly in a hole is neither read nor written: the output is
// lengthened over it instead, so the copy keeps the hole and its length,
// and with it every figure shown, grows as it would have. Lengthening waits
// until the length is next looked at or written after, so a long hole costs
// one call per round, not one per block.
struct HoleMap {
  bool sparse = false;
  int64_t size = 0;     // the source's length when the copy began
  int64_t position = 0; // where the next block begins
  bool moved = false;   // the input's own position is elsewhere
  int64_t extent_start = 0, extent_end = 0;
  bool extent_is_hole = false;
  bool skipped[32] = {}; // per buffer of the round: a hole, not read
  int64_t pending = 0;   // bytes of hole the output still lacks
};

// True when the `count` bytes at the map's position lie wholly in a hole.
bool lies_in_hole(HoleMap *map, int input, int64_t count) {
  int64_t start = map->position;
  if (start < map->extent_start || start >= map->extent_end) {
    int64_t end = 0;
    int kind = file_extent(input, start, &end);
    map->moved = true;
    if (kind < 0) {
      map->sparse = false; // the platform can't tell: all of it is data
      return false;
    }
    map->extent_start = start;
    map->extent_end = end;
    map->extent_is_hole = kind == 1;
  }
  return map->extent_is_hole && start + count <= map->extent_end;
}

// Lengthens the output over the holes passed so far: 0 or -1.
int settle_holes(HoleMap *map, int output) {
  if (map->pending == 0)
    return 0;
  int64_t count = map->pending;
  map->pending = 0;
  return extend_file(output, count);
}

// One write request, or for a skipped block its hole: the bytes it stands
// for, or -1.
int32_t write_or_skip(HoleMap *map, int index, int output, const uint8_t *data, uint32_t count) {
  if (map->skipped[index]) {
    map->pending += count;
    return int32_t(count);
  }
  if (settle_holes(map, output) != 0)
    return -1;
  return write_request(output, data, count);
}

// ------------------------------------------------------- progress

// Shows the output's length as a figure of the source size when it grew.
// Only a per-block update decides whether the window opens.
void show_progress(CopyPlan *plan, int output, bool per_block) {
  int64_t percent = file_length(output) * 100 / plan->percent_base;
  if (percent <= plan->last_percent)
    return;
  if (!options.quiet) {
    print_output("\b\b\b%2I64d%c", percent, '%');
    if (per_block && progress_window_state == -1)
      progress_window_state = percent <= 2 ? open_progress_window(plan->caption.c_str()) : 0;
    if (progress_window_state == 1)
      set_progress_position(int(percent));
  }
  plan->last_percent = percent;
}

// ---------------------------------------------------------- rounds

// The block at the map's position into `buffer`; a block wholly in a hole
// is passed over and marked skipped, its spinner step taken as for a read.
// The bytes read, or -1.
int32_t next_block(HoleMap *map, int input, int index) {
  int32_t block = int32_t(block_bytes());
  map->skipped[index] = false;
  if (map->sparse && map->position + block <= map->size && lies_in_hole(map, input, block)) {
    map->skipped[index] = true;
    map->position += block;
    spin();
    return block;
  }
  if (map->moved) {
    if (seek_file(input, map->position) < 0)
      return -1;
    map->moved = false;
  }
  int32_t count = read_block(input, buffer_pool.buffers[index]);
  if (count > 0)
    map->position += count;
  return count;
}

// Writes the round's first `count` buffers, each a whole block: 0 or -1.
int write_full_blocks(CopyPlan *plan, int output, int count, HoleMap *map, uint32_t *write_clock) {
  uint32_t block = block_bytes();
  for (int l = 0; l < count; ++l) {
    const uint8_t *buffer = buffer_pool.buffers[l];
    int32_t written = write_or_skip(map, l, output, buffer, block);
    uint32_t write_time = milliseconds_now();
    if (!options.batch) {
      show_spinner();
      if (settle_holes(map, output) != 0)
        return -1;
      show_progress(plan, output, true);
    }
    if (complete_write(output, buffer, block, written, true) < 0)
      return -1;
    output_pause(write_time, write_clock);
  }
  return 0;
}

// Writes the round's last buffer, `count` bytes: 0 or -1. Under output
// pacing it is paced like the others, so that the pacing holds with a
// one-buffer pool too; without pacing no pause follows it.
int write_last_buffer(int output, int index, int32_t count, HoleMap *map, uint32_t *write_clock) {
  const uint8_t *buffer = buffer_pool.buffers[index];
  int32_t written = write_or_skip(map, index, output, buffer, uint32_t(count));
  uint32_t write_time = milliseconds_now();
  if (complete_write(output, buffer, uint32_t(count), written, false) < 0)
    return -1;
  if (options.pace_output)
    output_pause(write_time, write_clock);
  return 0;
}

void report_read_failure(int position, const uint8_t *buffer) {
  int error_number = errno;
  // The address's low 32 bits keep the figure eight columns wide.
  uint32_t address = uint32_t(reinterpret_cast<uintptr_t>(buffer));
  report_error("Reading buffer %d at %8x length %u\n", position, address, block_bytes());
  errno = error_number;
}

// Copies round after round until the input ends: 0, 3 or 4.
int run_rounds(CopyPlan *plan, int input, int output, HoleMap *map) {
  int32_t block = int32_t(block_bytes());
  int32_t read_count = block;
  uint32_t read_clock = milliseconds_now();
  uint32_t write_clock = read_clock;
  while (read_count == block) {
    int count = 0;
    while (count < buffer_pool.buffer_count && read_count == block) {
      read_count = next_block(map, input, count);
      input_pause(&read_clock);
      ++count;
    }
    uint8_t *last = buffer_pool.buffers[count - 1];
    if (read_count < 0) {
      report_read_failure(count, last);
      return 3;
    }
    if (write_full_blocks(plan, output, count - 1, map, &write_clock) != 0)
      return 4;
    if (read_count > 0 && write_last_buffer(output, count - 1, read_count, map, &write_clock) != 0)
      return 4;
    if (!options.batch) {
      show_spinner();
      if (settle_holes(map, output) != 0)
        return 4;
      show_progress(plan, output, false);
    }
  }
  return 0;
}

// The rounds of one copy, the input standing at `start`; whatever ends
// them, the output has the length of everything written or passed over.
int copy_rounds(CopyPlan *plan, int input, int output, int64_t start) {
  HoleMap map;
  map.sparse = plan->source_sparse;
  map.size = plan->percent_base - 1;
  map.position = start;
  int status = run_rounds(plan, input, output, &map);
  plan->source_end = map.position;
  if (settle_holes(&map, output) != 0 && status == 0)
    status = 4;
  return status;
}

// --------------------------------------------------------- opening

int open_source(const nchar *source) {
  int input = open_file(source, open_read, share_deny_write, 0);
  if (input < 0)
    input = open_file(source, open_read, share_deny_none, 0);
  return input;
}

// Restart: the output is appended to and the input skips what it holds,
// `*start` bytes.
int open_restart_output(const CopyPlan *plan, int input, int64_t *start) {
  int output = open_file(plan->working_name.c_str(), open_append, share_deny_write,
                         plan->source_permissions);
  if (output < 0)
    return -1;
  int64_t length = file_length(output);
  if (length < 0 || seek_file(input, length) < 0) {
    int error_number = errno;
    close_file(output);
    // The open may have made it.
    mark_partial_copy(plan->working_name.c_str());
    errno = error_number;
    return -1;
  }
  *start = length;
  return output;
}

void report_unopened_output(const nstring &name, int error_number) {
  print_error("%ls: Unable to Open output file", name.c_str());
  print_error_text(error_number);
  errno = error_number;
}

int open_plain_output(const CopyPlan *plan) {
  OpenMode mode = options.append && plan->destination_exists ? open_append : open_write_truncate;
  int output =
      open_file(plan->working_name.c_str(), mode, share_deny_read_write, plan->source_permissions);
  if (output < 0)
    report_unopened_output(plan->working_name, errno);
  return output;
}

// Makes the temporary file under the first name nobody has taken in any
// form; the name is never looked at first, the creation itself decides.
int create_temporary(CopyPlan *plan) {
  for (int attempt = 0;; ++attempt) {
    watch_output(plan->working_name.c_str(), -1, true);
    int output =
        create_new_file(plan->working_name.c_str(), plan->temporary_permissions, &plan->made);
    if (output >= 0 || errno != EEXIST || attempt == kTemporaryNameRetries)
      return output;
    if (!next_temporary_name(plan))
      return -1;
  }
}

// Appending under a temporary name: the old content goes first, so that the
// file that takes the destination's place holds it and then the source.
int copy_old_content(const CopyPlan *plan, int output) {
  int input = open_source(plan->destination);
  if (input < 0)
    return -1;
  uint8_t *buffer = buffer_pool.buffers[0];
  int32_t count;
  while ((count = read_file(input, buffer, block_bytes())) > 0) {
    if (complete_write(output, buffer, uint32_t(count),
                       write_request(output, buffer, uint32_t(count)), false) < 0)
      break;
  }
  int error_number = errno;
  close_file(input);
  errno = error_number;
  return count == 0 ? 0 : -1;
}

int open_temporary_output(CopyPlan *plan) {
  int output = create_temporary(plan);
  if (output < 0) {
    if (errno == EEXIST || errno == ENAMETOOLONG)
      report_no_temporary_name();
    else
      report_unopened_output(plan->working_name, errno);
    return -1;
  }
  watch_output(plan->working_name.c_str(), output, true);
  if (options.append && plan->destination_exists && copy_old_content(plan, output) != 0) {
    int error_number = errno;
    close_file(output);
    remove_file(plan->working_name.c_str());
    report_unopened_output(plan->destination, error_number);
    return -1;
  }
  return output;
}

// The output, and in `*start` where the input begins.
int open_output(CopyPlan *plan, int input, int64_t *start) {
  if (plan->restart)
    return open_restart_output(plan, input, start);
  if (plan->working_name != plan->destination)
    return open_temporary_output(plan);
  return open_plain_output(plan);
}

// ---------------------------------------------------------- finish

void give_source_attributes(const CopyPlan *plan, int status, bool temporary) {
  if (!temporary || status == 0)
    copy_file_attributes(plan->source, plan->destination);
  else if (status == copy_replace_failed)
    copy_file_attributes(plan->source, plan->working_name.c_str());
}

int finish_copy(const CopyPlan *plan, int input, int output, int status, int64_t start_time) {
  int error_number = errno;
  int64_t end_time = wall_seconds();
  if (!options.batch && !options.quiet)
    print_output("\b\b\b\b");
  close_file(input);
  bool throughput = options.pace_input || options.pace_output || options.timing;
  int64_t final_length = throughput ? file_length(output) : 0;
  // Through the open descriptor where the platform can: no name to look up
  // again. A rename keeps them.
  bool times_set =
      status == 0 && set_open_file_times(output, plan->access_time, plan->modification_time) == 0;
  // A close can be the first to report a lost write (network file systems).
  if (close_file(output) != 0 && status == 0) {
    status = 4;
    error_number = errno;
  }
  bool temporary = plan->working_name != plan->destination;
  // The source's times were given too early: a partial copy must not look
  // as new as its source, so it gets the epoch.
  if (times_set && status != 0 && !temporary)
    set_file_times(plan->working_name.c_str(), FileTime(), FileTime());
  if (temporary)
    status = replace_from_temporary(plan, status, &error_number);
  end_output_watch();
  if (status == 0) {
    last_error = 0;
    if (!times_set)
      set_file_times(plan->destination, plan->access_time, plan->modification_time);
  } else {
    last_error = error_number;
    if (!temporary)
      mark_partial_copy(plan->destination);
  }
  if (options.set_hidden_attributes)
    give_source_attributes(plan, status, temporary);
  if (throughput)
    report_throughput(final_length, end_time - start_time);
  if (progress_window_state == 1)
    close_progress_window();
  pause_milliseconds(0);
  errno = error_number;
  return status;
}

} // namespace

// Puts the temporary file in the destination's place after a good copy, or
// removes it after a failed one. A replacement that fails keeps the
// temporary file, which holds the whole copy.
int replace_from_temporary(const CopyPlan *plan, int status, int *error_number) {
  const nchar *temporary = plan->working_name.c_str();
  if (status != 0) {
    if (name_exists(temporary))
      remove_file(temporary);
    return status;
  }
  // Only the very file the copy made is renamed. Where a rename replaces an
  // existing name, the destination is never missing; where it refuses one,
  // the destination has to go first.
  if (rename_made_file(temporary, plan->destination, plan->made) == 0)
    return 0;
  int reason = errno;
  if ((reason == EEXIST || reason == EACCES) && name_exists(plan->destination)) {
    if (remove_file(plan->destination) != 0)
      reason = errno;
    else if (rename_made_file(temporary, plan->destination, plan->made) == 0)
      return 0;
    else
      reason = errno;
  }
  *error_number = reason;
  kept_temporary_name = plan->working_name;
  return copy_replace_failed;
}

void mark_partial_copy(const nchar *name) {
  int error_number = errno;
  set_file_times(name, FileTime(), FileTime());
  errno = error_number;
}

// Sizes above 2 GiB are printed whole: the figures are 64-bit.
void report_throughput(int64_t length, int64_t elapsed) {
  if (elapsed <= 0)
    elapsed = 1;
  int64_t rate = length / elapsed;
  if (!options.quiet)
    print_output(" (%I64d bytes/sec)", rate);
  print_log(" (%I64d bytes copied in %I64d seconds at %I64d bytes/second) ", length, elapsed, rate);
}

int block_copy(CopyPlan *plan) {
  int input = open_source(plan->source);
  if (input < 0) {
    last_error = errno;
    return 1;
  }
  // An interruption that comes while the output is opened waits until it is
  // watched; a temporary file is watched from each name it is tried under.
  if (plan->working_name == plan->destination)
    watch_output(plan->working_name.c_str(), -1, false);
  int64_t start = 0;
  int output = open_output(plan, input, &start);
  if (output < 0) {
    int error_number = errno;
    end_output_watch();
    close_file(input);
    last_error = error_number;
    errno = error_number;
    return 2;
  }
  // From here an interruption leaves a plain destination stamped as older
  // than any source; a temporary file is watched from its creation on, and
  // removed.
  if (plan->working_name == plan->destination)
    watch_output(plan->working_name.c_str(), output, false);
  int64_t start_time = wall_seconds();
  int status = copy_rounds(plan, input, output, start);
  return finish_copy(plan, input, output, status, start_time);
}

} // namespace zorov

// The buffered block copy: rounds that read up to every buffer of the pool
// and then write them, completing short transfers, pacing reads or writes,
// and keeping the console figure and the progress window up to date.
#include "engine/block_copy.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "engine/copy_plan.h"
#include "progress/progress.h"

#include <cerrno>

namespace zorov {

namespace {

void spin() {
  if (!options.batch)
    show_spinner();
}

bool name_exists(const nchar *name) {
  FileStatus status;
  return file_status(name, &status) == 0;
}

// ------------------------------------------------------------ pacing

// Waits out the rest of an interval that began at `since`, never longer
// than one interval.
void pace(int32_t interval_ms, uint32_t since, uint32_t now) {
  int32_t passed = int32_t(now - since);
  if (passed >= interval_ms)
    return;
  if (passed < 0)
    passed = 0;
  pause_milliseconds(uint32_t(interval_ms - passed));
}

// Without pacing no reading of the clock decides anything, so none is
// taken: a copy pays for its blocks alone.
void input_pause(const BufferPool &pool, uint32_t *read_clock) {
  if (!options.pace_input) {
    pause_milliseconds(0);
    return;
  }
  pace(pool.pace_input_interval_ms, *read_clock, milliseconds_now());
  *read_clock = milliseconds_now();
}

void output_pause(const BufferPool &pool, uint32_t write_time, uint32_t *write_clock) {
  if (!options.pace_output) {
    pause_milliseconds(0);
    return;
  }
  pace(pool.pace_output_interval_ms, *write_clock, write_time);
  *write_clock = milliseconds_now();
}

// The time a write ended, where output pacing asks for it.
uint32_t write_time_now() { return options.pace_output ? milliseconds_now() : 0; }

// ------------------------------------------------------- transfers

// What a platform call returned (a byte count, a descriptor, 0) and, when it
// failed with -1, its error number, taken before any other call can change
// it.
struct CallResult {
  int32_t value = 0;
  int error_number = 0;
};

CallResult call_result(int32_t value) {
  CallResult result;
  result.value = value;
  result.error_number = value < 0 ? errno : 0;
  return result;
}

CallResult call_failed(int error_number) {
  CallResult result;
  result.value = -1;
  result.error_number = error_number;
  return result;
}

// One write request. A request that moves nothing would repeat forever: it
// is taken as a full disk.
CallResult write_request(int output, const uint8_t *data, uint32_t count) {
  CallResult written = call_result(write_file(output, data, count));
  if (written.value == 0 && count > 0)
    return call_failed(ENOSPC);
  return written;
}

// Fills `buffer` with one block of `block` bytes; short reads are completed
// so that only the last block of the input is short. A short read that ends
// where the input ended when the copy began, `known_rest` bytes on, is
// taken as the end: asking again would only be told so, a call per file.
// The spinner still takes the step of that read, so the console shows what
// it always showed. The bytes read, or -1.
CallResult read_block(int input, uint8_t *buffer, uint32_t block, int64_t known_rest) {
  CallResult read = call_result(read_file(input, buffer, block));
  spin();
  if (read.value > 0 && uint32_t(read.value) < block && read.value == known_rest) {
    spin();
    return read;
  }
  while (read.value > 0 && uint32_t(read.value) < block) {
    CallResult more =
        call_result(read_file(input, buffer + read.value, block - uint32_t(read.value)));
    spin();
    if (more.value < 0)
      return more;
    if (more.value == 0)
      break;
    read.value += more.value;
  }
  return read;
}

// Completes a write of `length` bytes of which `written` went out:
// `length`, or -1.
CallResult complete_write(int output, const uint8_t *buffer, uint32_t length, CallResult written,
                          bool spinner) {
  while (written.value > 0 && uint32_t(written.value) < length) {
    CallResult more =
        write_request(output, buffer + written.value, length - uint32_t(written.value));
    if (spinner)
      spin();
    if (more.value < 0)
      return more;
    written.value += more.value;
  }
  return written;
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
  // The output's length when last looked at, while nothing has changed it
  // since; -1 when it must be looked at again.
  int64_t looked_at = -1;
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
CallResult settle_holes(HoleMap *map, int output) {
  if (map->pending == 0)
    return CallResult();
  int64_t count = map->pending;
  map->pending = 0;
  map->looked_at = -1;
  return call_result(extend_file(output, count));
}

// One write request, or for a skipped block its hole: the bytes it stands
// for, or -1.
CallResult write_or_skip(HoleMap *map, int index, int output, const uint8_t *data, uint32_t count) {
  if (map->skipped[index]) {
    map->pending += count;
    return call_result(int32_t(count));
  }
  CallResult settled = settle_holes(map, output);
  if (settled.value < 0)
    return settled;
  return write_request(output, data, count);
}

// ------------------------------------------------------- progress

// Shows the output's length as a figure of the source size when it grew.
// Only a per-block update decides whether the window opens.
void show_progress(CopyPlan *plan, int64_t length, bool per_block) {
  int64_t percent = length * 100 / plan->percent_base;
  if (percent <= plan->last_percent)
    return;
  if (!options.quiet) {
    print_output("\b\b\b%2I64d%c", percent, '%');
    follow_in_window(&plan->progress_window_state, percent, plan->caption.c_str(), per_block);
  }
  plan->last_percent = percent;
}

// ---------------------------------------------------------- rounds

// The block at the map's position into `buffer`; a block wholly in a hole
// is passed over and marked skipped, its spinner step taken as for a read.
// The bytes read, or -1.
CallResult next_block(const BufferPool &pool, HoleMap *map, int input, int index) {
  int32_t block = pool.run_block_size;
  map->skipped[index] = false;
  if (map->sparse && map->position + block <= map->size && lies_in_hole(map, input, block)) {
    map->skipped[index] = true;
    map->position += block;
    spin();
    return call_result(block);
  }
  if (map->moved) {
    if (seek_file(input, map->position) < 0)
      return call_failed(errno);
    map->moved = false;
  }
  CallResult read =
      read_block(input, pool.buffers[index], uint32_t(block), map->size - map->position);
  if (read.value > 0)
    map->position += read.value;
  return read;
}

// Writes the round's first `count` buffers, each a whole block: 0 or -1.
CallResult write_full_blocks(CopyPlan *plan, int output, int count, HoleMap *map,
                             uint32_t *write_clock) {
  const BufferPool &pool = *plan->pool;
  uint32_t block = uint32_t(pool.run_block_size);
  for (int l = 0; l < count; ++l) {
    const uint8_t *buffer = pool.buffers[l];
    CallResult written = write_or_skip(map, l, output, buffer, block);
    uint32_t write_time = write_time_now();
    if (!options.batch) {
      // A run of hole blocks is settled once, when data follows it or the
      // round ends, and the output's length is looked at once for it: the
      // figure counts the hole all the same.
      show_spinner();
      if (!map->skipped[l] || map->looked_at < 0)
        map->looked_at = file_length(output);
      show_progress(plan, map->looked_at + map->pending, true);
    }
    written = complete_write(output, buffer, block, written, true);
    if (!map->skipped[l])
      map->looked_at = -1;
    if (written.value < 0)
      return written;
    output_pause(pool, write_time, write_clock);
  }
  return CallResult();
}

// Writes the round's last buffer, `count` bytes: 0 or -1. Under output
// pacing it is paced like the others, so that the pacing holds with a
// one-buffer pool too; without pacing no pause follows it.
CallResult write_last_buffer(const BufferPool &pool, int output, int index, int32_t count,
                             HoleMap *map, uint32_t *write_clock) {
  const uint8_t *buffer = pool.buffers[index];
  CallResult written = write_or_skip(map, index, output, buffer, uint32_t(count));
  uint32_t write_time = write_time_now();
  written = complete_write(output, buffer, uint32_t(count), written, false);
  if (written.value < 0)
    return written;
  if (options.pace_output)
    output_pause(pool, write_time, write_clock);
  return CallResult();
}

void report_read_failure(const BufferPool &pool, int position) {
  // The address's low 32 bits keep the figure eight columns wide.
  uint32_t address = uint32_t(reinterpret_cast<uintptr_t>(pool.buffers[position - 1]));
  report_error("Reading buffer %d at %8x length %u\n", position, address,
               uint32_t(pool.run_block_size));
}

// Writes what one round read, `count` buffers, the last one `last_count`
// bytes long: 0 or -1.
CallResult write_round(CopyPlan *plan, int output, int count, int32_t last_count, HoleMap *map,
                       uint32_t *write_clock) {
  CallResult written = write_full_blocks(plan, output, count - 1, map, write_clock);
  if (written.value < 0 || last_count == 0)
    return written;
  return write_last_buffer(*plan->pool, output, count - 1, last_count, map, write_clock);
}

// Copies round after round until the input ends: copy_ok, copy_read_failed
// or copy_write_failed.
CopyResult run_rounds(CopyPlan *plan, int input, int output, HoleMap *map) {
  const BufferPool &pool = *plan->pool;
  int32_t block = pool.run_block_size;
  CallResult read = call_result(block);
  uint32_t read_clock = options.pace_input || options.pace_output ? milliseconds_now() : 0;
  uint32_t write_clock = read_clock;
  while (read.value == block) {
    int count = 0;
    while (count < pool.buffer_count && read.value == block) {
      read = next_block(pool, map, input, count);
      input_pause(pool, &read_clock);
      ++count;
    }
    if (read.value < 0) {
      report_read_failure(pool, count);
      return copy_failure(copy_read_failed, read.error_number);
    }
    CallResult written = write_round(plan, output, count, read.value, map, &write_clock);
    if (written.value < 0)
      return copy_failure(copy_write_failed, written.error_number);
    if (!options.batch) {
      show_spinner();
      CallResult settled = settle_holes(map, output);
      if (settled.value < 0)
        return copy_failure(copy_write_failed, settled.error_number);
      show_progress(plan, file_length(output), false);
    }
  }
  return CopyResult();
}

// The rounds of one copy, the input standing at `start`; whatever ends
// them, the output has the length of everything written or passed over.
CopyResult copy_rounds(CopyPlan *plan, int input, int output, int64_t start) {
  HoleMap map;
  map.sparse = plan->source_sparse;
  map.size = plan->percent_base - 1;
  map.position = start;
  CopyResult result = run_rounds(plan, input, output, &map);
  plan->source_end = map.position;
  CallResult settled = settle_holes(&map, output);
  if (settled.value < 0 && result.status == copy_ok)
    return copy_failure(copy_write_failed, settled.error_number);
  return result;
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
CallResult open_restart_output(const CopyPlan *plan, int input, int64_t *start) {
  CallResult output = call_result(open_file(plan->working_name.c_str(), open_append,
                                            share_deny_write, plan->source_permissions));
  if (output.value < 0)
    return output;
  int64_t length = file_length(output.value);
  if (length < 0 || seek_file(input, length) < 0) {
    CallResult failed = call_failed(errno);
    close_file(output.value);
    // The open may have made it.
    mark_partial_copy(plan, plan->working_name.c_str());
    return failed;
  }
  *start = length;
  return output;
}

void report_unopened_output(const nstring &name, int error_number) {
  print_error("%ls: Unable to Open output file", name.c_str());
  print_error_text(error_number);
}

CallResult open_plain_output(const CopyPlan *plan) {
  OpenMode mode = options.append && plan->destination_exists ? open_append : open_write_truncate;
  CallResult output = call_result(
      open_file(plan->working_name.c_str(), mode, share_deny_read_write, plan->source_permissions));
  if (output.value < 0)
    report_unopened_output(plan->working_name, output.error_number);
  return output;
}

// Makes the temporary file under the first name nobody has taken in any
// form; the name is never looked at first, the creation itself decides.
CallResult create_temporary(CopyPlan *plan) {
  for (int attempt = 0;; ++attempt) {
    watch_output(plan->working_name.c_str(), -1, true, FileTime());
    CallResult output = call_result(
        create_new_file(plan->working_name.c_str(), plan->temporary_permissions, &plan->made));
    if (output.value >= 0 || output.error_number != EEXIST || attempt == kTemporaryNameRetries)
      return output;
    if (!next_temporary_name(plan))
      return call_failed(ENAMETOOLONG);
  }
}

// Appending under a temporary name: the old content goes first, so that the
// file that takes the destination's place holds it and then the source.
CallResult copy_old_content(const CopyPlan *plan, int output) {
  CallResult input = call_result(open_source(plan->destination));
  if (input.value < 0)
    return input;
  uint8_t *buffer = plan->pool->buffers[0];
  CallResult read;
  for (;;) {
    read = call_result(read_file(input.value, buffer, uint32_t(plan->pool->run_block_size)));
    if (read.value <= 0)
      break;
    uint32_t count = uint32_t(read.value);
    CallResult written =
        complete_write(output, buffer, count, write_request(output, buffer, count), false);
    if (written.value < 0) {
      read = written;
      break;
    }
  }
  close_file(input.value);
  return read;
}

CallResult open_temporary_output(CopyPlan *plan) {
  CallResult output = create_temporary(plan);
  if (output.value < 0) {
    if (output.error_number == EEXIST || output.error_number == ENAMETOOLONG)
      report_no_temporary_name(output.error_number);
    else
      report_unopened_output(plan->working_name, output.error_number);
    return output;
  }
  watch_output(plan->working_name.c_str(), output.value, true, FileTime());
  if (!options.append || !plan->destination_exists)
    return output;
  CallResult copied = copy_old_content(plan, output.value);
  if (copied.value < 0) {
    close_file(output.value);
    remove_file(plan->working_name.c_str());
    report_unopened_output(plan->destination, copied.error_number);
    return copied;
  }
  return output;
}

// The output, and in `*start` where the input begins.
CallResult open_output(CopyPlan *plan, int input, int64_t *start) {
  if (plan->restart)
    return open_restart_output(plan, input, start);
  if (plan->working_name != plan->destination)
    return open_temporary_output(plan);
  return open_plain_output(plan);
}

// ---------------------------------------------------------- finish

void give_source_attributes(const CopyPlan *plan, CopyStatus status, bool temporary) {
  if (plan->special_destination)
    return;
  if (!temporary || status == copy_ok)
    copy_file_attributes(plan->source, plan->destination);
  else if (status == copy_replace_failed)
    copy_file_attributes(plan->source, plan->working_name.c_str());
}

// Closes both files and settles what the copy leaves: the temporary file,
// the times, the attributes, the throughput, the window.
CopyResult finish_copy(const CopyPlan *plan, int input, int output, CopyResult result,
                       int64_t start_time) {
  int64_t end_time = wall_seconds();
  if (!options.batch && !options.quiet)
    print_output("\b\b\b\b");
  close_file(input);
  bool throughput = options.pace_input || options.pace_output || options.timing;
  int64_t final_length = throughput ? file_length(output) : 0;
  // Through the open descriptor where the platform can: no name to look up
  // again. A rename keeps them. A device or pipe keeps its own.
  bool dated = !plan->special_destination;
  bool times_set = dated && result.status == copy_ok &&
                   set_open_file_times(output, plan->access_time, plan->modification_time) == 0;
  // A close can be the first to report a lost write (network file systems).
  if (close_file(output) != 0 && result.status == copy_ok)
    result = copy_failure(copy_write_failed, errno);
  bool temporary = plan->working_name != plan->destination;
  if (temporary)
    result = replace_from_temporary(plan, result);
  end_output_watch();
  if (dated && result.status == copy_ok && !times_set)
    set_file_times(plan->destination, plan->access_time, plan->modification_time);
  // A partial copy must not look as new as its source, even where the
  // source's times were given before the close failed: it gets the mark.
  if (dated && result.status != copy_ok && !temporary)
    mark_partial_copy(plan, plan->destination);
  if (options.set_hidden_attributes)
    give_source_attributes(plan, result.status, temporary);
  if (throughput)
    report_throughput(final_length, end_time - start_time);
  if (plan->progress_window_state == window_open)
    close_progress_window();
  pause_milliseconds(0);
  return result;
}

} // namespace

// Puts the temporary file in the destination's place after a good copy, or
// removes it after a failed one. A replacement that fails keeps the
// temporary file, which holds the whole copy.
CopyResult replace_from_temporary(const CopyPlan *plan, const CopyResult &result) {
  const nchar *temporary = plan->working_name.c_str();
  if (result.status != copy_ok) {
    if (name_exists(temporary))
      remove_file(temporary);
    return result;
  }
  // Only the very file the copy made is renamed. Where a rename replaces an
  // existing name, the destination is never missing; where it refuses one,
  // the destination has to go first.
  if (rename_made_file(temporary, plan->destination, plan->made) == 0)
    return result;
  int reason = errno;
  if ((reason == EEXIST || reason == EACCES) && name_exists(plan->destination)) {
    if (remove_file(plan->destination) != 0)
      reason = errno;
    else if (rename_made_file(temporary, plan->destination, plan->made) == 0)
      return result;
    else
      reason = errno;
  }
  CopyResult kept = copy_failure(copy_replace_failed, reason);
  kept.kept_temporary_name = plan->working_name;
  return kept;
}

FileTime partial_copy_mark(FileTime source_modification) {
  const int64_t same_within = 2; // seconds, as the changed rule compares
  FileTime mark;
  if (source_modification.seconds <= same_within)
    mark.seconds = source_modification.seconds - same_within - 1;
  return mark;
}

void mark_partial_copy(const CopyPlan *plan, const nchar *name) {
  FileTime mark = partial_copy_mark(plan->modification_time);
  set_file_times(name, mark, mark);
  // Some file systems keep another time than the one asked for: an SFTP
  // share through sshfs takes a time of 0 for "now" and one before 1970 for
  // one after 2106, either of which would make the partial copy look newer
  // than its source. The first second after the epoch is kept there.
  FileStatus status;
  if (file_status(name, &status) == 0 && status.modification_time.seconds > 1) {
    FileTime second;
    second.seconds = 1;
    set_file_times(name, second, second);
  }
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

CopyResult block_copy(CopyPlan *plan) {
  int input = open_source(plan->source);
  if (input < 0)
    return copy_failure(copy_source_failed, errno);
  // An interruption that comes while the output is opened waits until it is
  // watched; a temporary file is watched from each name it is tried under.
  // A device or pipe is left as it is.
  bool plain = plan->working_name == plan->destination && !plan->special_destination;
  FileTime mark = partial_copy_mark(plan->modification_time);
  if (plain)
    watch_output(plan->working_name.c_str(), -1, false, mark);
  int64_t start = 0;
  CallResult output = open_output(plan, input, &start);
  if (output.value < 0) {
    end_output_watch();
    close_file(input);
    return copy_failure(copy_destination_failed, output.error_number);
  }
  // From here an interruption leaves a plain destination stamped as older
  // than any source; a temporary file is watched from its creation on, and
  // removed.
  if (plain)
    watch_output(plan->working_name.c_str(), output.value, false, mark);
  int64_t start_time = wall_seconds();
  CopyResult result = copy_rounds(plan, input, output.value, start);
  return finish_copy(plan, input, output.value, result, start_time);
}

} // namespace zorov

// The buffer pool: as many large buffers as memory gives (up to 31), taken
// once before the first copy, so that a round of the block copy reads long
// runs before it writes. Pacing is fitted here so a paced transfer is one
// block.
#include "engine/buffer_pool.h"

#include "cli/messages.h"
#include "cli/options.h"
#include "platform/platform.h"

namespace zorov {

BufferPool buffer_pool;

namespace {

const uint32_t first_trial_size = 65024;
// Halving stops once the size would no longer be above this.
const uint32_t smallest_trial_floor = 8192;
const int table_size = 32;
const int checkpoint_limit = 2;

// Fills the table with buffers of `size` until `limit` or a refusal; the
// number allocated.
int fill_buffers(uint32_t size, int limit) {
  int allocated = 0;
  while (allocated < limit) {
    void *block = allocate_memory(size);
    if (!block)
      break;
    buffer_pool.buffers[allocated++] = static_cast<uint8_t *>(block);
  }
  return allocated;
}

[[noreturn]] void insufficient_memory() {
  if (options.batch)
    print_output(" Insufficient Memory\n");
  else
    print_error(" Insufficient Memory\n");
  print_log(" Insufficient memory\n");
  close_logs();
  exit_process(8);
}

// Scales a pacing to one block: fewer bytes than a block shrink the block,
// more bytes shorten the interval so the rate stays.
void fit_pacing(uint32_t *block_size, uint32_t *pace_bytes, int32_t *interval_ms,
                const char *reset_message) {
  // A byte count of 0 only arises when the K multiplier wrapped past 2^32;
  // read it as the 2^32 the user asked for rather than dividing by zero or
  // shrinking the block to nothing.
  int64_t bytes = *pace_bytes == 0 ? int64_t(1) << 32 : int64_t(*pace_bytes);
  if (bytes <= int64_t(*block_size)) {
    *block_size = *pace_bytes;
    return;
  }
  int64_t scaled = int64_t(*interval_ms) * int64_t(*block_size) / bytes;
  *interval_ms = scaled == 0 ? 1 : int32_t(scaled);
  *pace_bytes = *block_size;
  report_error(reset_message, *pace_bytes, *interval_ms);
}

} // namespace

uint32_t allocate_buffer_pool(bool checkpoint) {
  for (uint8_t *&entry : buffer_pool.buffers)
    entry = nullptr;
  buffer_pool.buffer_count = 0;

  int limit = checkpoint ? checkpoint_limit : table_size;
  uint32_t size = first_trial_size;
  int allocated = fill_buffers(size, limit);
  while (allocated == 0) {
    size /= 2;
    if (size <= smallest_trial_floor)
      insufficient_memory();
    allocated = fill_buffers(size, limit);
  }

  // The last buffer is given back so the system keeps some memory; a lone
  // buffer is kept and only half of it used.
  uint32_t block_size = size;
  if (allocated >= 2) {
    free_memory(buffer_pool.buffers[allocated - 1]);
    buffer_pool.buffers[allocated - 1] = nullptr;
    buffer_pool.buffer_count = allocated - 1;
  } else {
    buffer_pool.buffer_count = 1;
    block_size = size / 2;
  }

  if (options.report_buffers)
    print_error("\nBuffer Size = %ld, Number of Buffers = %d, Total Size = %ld\n", block_size,
                buffer_pool.buffer_count, block_size * uint32_t(buffer_pool.buffer_count));

  if (options.pace_input)
    fit_pacing(&block_size, &options.pace_input_bytes, &options.pace_input_interval_ms,
               "Input pacing reset to %ld bytes / %ld milliseconds.\n");
  if (options.pace_output)
    fit_pacing(&block_size, &options.pace_output_bytes, &options.pace_output_interval_ms,
               "Output pacing reset to %ld bytes / %ld milliseconds.\n");
  return block_size;
}

void free_buffer_pool() {
  for (int i = 0; i < buffer_pool.buffer_count && i < table_size; ++i) {
    if (!buffer_pool.buffers[i])
      break;
    free_memory(buffer_pool.buffers[i]);
    buffer_pool.buffers[i] = nullptr;
  }
  buffer_pool.buffer_count = 0;
}

} // namespace zorov

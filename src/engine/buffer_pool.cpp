// The buffer pool: as many large buffers as memory gives (up to 31), taken
// once before the first copy, so that a round of the block copy reads long
// runs before it writes. Pacing is fitted here so a paced transfer is one
// block.
#include "engine/buffer_pool.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "platform/platform.h"

namespace zorov {

namespace {

const uint32_t first_trial_size = 65024;
// Halving stops once the size would no longer be above this.
const uint32_t smallest_trial_floor = 8192;
const int table_size = 32;
const int checkpoint_limit = 2;

// Fills the pool's table with buffers of `size` until `limit` or a refusal;
// the number allocated.
int fill_buffers(BufferPool *pool, uint32_t size, int limit) {
  int allocated = 0;
  while (allocated < limit) {
    void *block = allocate_memory(size);
    if (!block)
      break;
    pool->buffers[allocated++] = static_cast<uint8_t *>(block);
  }
  return allocated;
}

// Scales a pacing to one block: fewer bytes than a block shrink the block,
// more bytes shorten the interval so the rate stays. The interval that
// paces one block.
int32_t fit_pacing(uint32_t *block_size, uint32_t pace_bytes, int32_t interval_ms,
                   const char *reset_message) {
  // A byte count of 0 only arises when the K multiplier wrapped past 2^32;
  // read it as the 2^32 the user asked for rather than dividing by zero or
  // shrinking the block to nothing.
  int64_t bytes = pace_bytes == 0 ? int64_t(1) << 32 : int64_t(pace_bytes);
  if (bytes <= int64_t(*block_size)) {
    *block_size = pace_bytes;
    return interval_ms;
  }
  int64_t scaled = int64_t(interval_ms) * int64_t(*block_size) / bytes;
  int32_t fitted = scaled == 0 ? 1 : int32_t(scaled);
  report_error(reset_message, *block_size, fitted);
  return fitted;
}

// Allocates the largest buffers memory gives; the size of each.
uint32_t fill_pool(BufferPool *pool, int limit) {
  uint32_t size = first_trial_size;
  int allocated = fill_buffers(pool, size, limit);
  while (allocated == 0) {
    size /= 2;
    if (size <= smallest_trial_floor)
      stop_without_memory();
    allocated = fill_buffers(pool, size, limit);
  }
  pool->buffer_count = allocated;
  return size;
}

} // namespace

BufferPool allocate_buffer_pool(bool checkpoint) {
  BufferPool pool;
  uint32_t size = fill_pool(&pool, checkpoint ? checkpoint_limit : table_size);

  // The last buffer is given back so the system keeps some memory; a lone
  // buffer is kept and only half of it used.
  uint32_t block_size = size;
  if (pool.buffer_count >= 2) {
    pool.buffer_count -= 1;
    free_memory(pool.buffers[pool.buffer_count]);
    pool.buffers[pool.buffer_count] = nullptr;
  } else {
    block_size = size / 2;
  }

  if (options.report_buffers)
    print_error("\nBuffer Size = %ld, Number of Buffers = %d, Total Size = %ld\n", block_size,
                pool.buffer_count, block_size * uint32_t(pool.buffer_count));

  if (options.pace_input)
    pool.pace_input_interval_ms =
        fit_pacing(&block_size, options.pace_input_bytes, options.pace_input_interval_ms,
                   "Input pacing reset to %ld bytes / %ld milliseconds.\n");
  if (options.pace_output)
    pool.pace_output_interval_ms =
        fit_pacing(&block_size, options.pace_output_bytes, options.pace_output_interval_ms,
                   "Output pacing reset to %ld bytes / %ld milliseconds.\n");
  pool.run_block_size = int32_t(block_size);
  return pool;
}

void free_buffer_pool(BufferPool *pool) {
  for (int i = 0; i < pool->buffer_count && i < table_size; ++i) {
    if (!pool->buffers[i])
      break;
    free_memory(pool->buffers[i]);
    pool->buffers[i] = nullptr;
  }
  pool->buffer_count = 0;
}

} // namespace zorov

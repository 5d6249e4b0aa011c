// The buffer pool: the run's copy buffers, allocated once.
#pragma once

#include <cstdint>

namespace zorov {

// The copy buffers, and what the buffered copy needs to use them.
struct BufferPool {
  uint8_t *buffers[32] = {};
  int32_t buffer_count = 0;
  // The size in bytes of every read and write request of the buffered copy:
  // the pool's block size, or the block_size setting when that is smaller.
  int32_t run_block_size = 0;
  // The pacing intervals, fitted to one block.
  int32_t pace_input_interval_ms = -1;
  int32_t pace_output_interval_ms = -1;
};

// Allocates the pool (one usable buffer under `checkpoint`, else up to 31)
// and fits the pacing to its block size. Ends the process with 8 when not
// one buffer can be had.
BufferPool allocate_buffer_pool(bool checkpoint);

// Gives the buffers back; harmless on a pool given back already.
void free_buffer_pool(BufferPool *pool);

} // namespace zorov

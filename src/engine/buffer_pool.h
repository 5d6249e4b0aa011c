// The buffer pool: the run's copy buffers, allocated once.
#pragma once

#include <cstdint>

namespace zorov {

struct BufferPool {
  uint8_t *buffers[32];
  int32_t buffer_count;
};

extern BufferPool buffer_pool;

// Allocates the pool (one usable buffer under `checkpoint`, else up to 31)
// and fits the pacing to it; returns the block size. Ends the process with
// 8 when not one buffer can be had.
uint32_t allocate_buffer_pool(bool checkpoint);

void free_buffer_pool();

} // namespace zorov

// Stand-in until the buffer pool is built: one buffer of 65024 bytes.
#include "engine/buffer_pool.h"

#include "platform/platform.h"

namespace zorov {

BufferPool buffer_pool;

uint32_t allocate_buffer_pool(bool checkpoint) {
  (void)checkpoint;
  buffer_pool.buffers[0] = static_cast<uint8_t *>(allocate_memory(65024));
  buffer_pool.buffer_count = 1;
  return 65024;
}

void free_buffer_pool() {
  if (buffer_pool.buffer_count > 0)
    free_memory(buffer_pool.buffers[0]);
  buffer_pool.buffer_count = 0;
}

} // namespace zorov

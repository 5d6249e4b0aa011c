// Stand-in until the copy engine is built: a plain whole-file copy.
#include "engine/copy_entry.h"

#include "cli/run_driver.h"
#include "engine/buffer_pool.h"

#include <cerrno>

namespace zorov {

int32_t last_error = 0;

int copy_file_data(const nchar *source, const nchar *destination, FileTime access_time,
                   FileTime modification_time, bool restart, bool platform) {
  (void)restart;
  (void)platform;
  int input = open_file(source, open_read, share_deny_write, 0);
  if (input < 0) {
    last_error = errno;
    return 1;
  }
  int output = open_file(destination, open_write_truncate, share_deny_read_write, 0644);
  if (output < 0) {
    last_error = errno;
    close_file(input);
    return 2;
  }
  int32_t count;
  while ((count = read_file(input, buffer_pool.buffers[0], uint32_t(run_block_size))) > 0)
    write_file(output, buffer_pool.buffers[0], uint32_t(count));
  close_file(input);
  close_file(output);
  set_file_times(destination, access_time, modification_time);
  return 0;
}

} // namespace zorov

#include "decide/file_job.h"

namespace zorov {

FileStamp source_stamp;
FileStamp destination_stamp;
int32_t identified_files = 0;
int64_t identified_bytes = 0;

int copy_one_file(const nstring &destination, const nstring &source,
                  int destination_from_directory, int argument_count) {
  (void)destination;
  (void)source;
  (void)destination_from_directory;
  (void)argument_count;
  return 0;
}

void delete_source(const nchar *source) { (void)source; }

} // namespace zorov

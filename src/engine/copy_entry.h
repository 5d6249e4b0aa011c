// The entry of the copy engine: prepares one copy and hands it to the
// buffered block copy or the platform copy.
#pragma once

#include "engine/buffer_pool.h"
#include "engine/copy_status.h"
#include "platform/native.h"
#include "platform/platform.h"

namespace zorov {

// What the caller found out about a file moments before the copy, so that
// it is not asked again.
struct KnownStatus {
  bool known = false;
  bool exists = false; // and then `status` is the file's
  FileStatus status;
};

// True when a failed file_status means only that nothing has the name; any
// other failure leaves it unknown whether a file is there.
bool name_is_missing(int error_number);

// Copies the data of `source` into `destination`, through the buffers of
// `pool` unless the platform copies it. The times become the copy's times.
// A status not known is asked for.
CopyResult copy_file_data(const BufferPool &pool, const nchar *source, const nchar *destination,
                          FileTime access_time, FileTime modification_time, bool restart,
                          bool platform, const KnownStatus &known_source = KnownStatus(),
                          const KnownStatus &known_destination = KnownStatus());

} // namespace zorov

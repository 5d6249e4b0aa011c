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

// One copy the engine is asked for.
struct CopyRequest {
  const nchar *source = nullptr;
  const nchar *destination = nullptr;
  // The times the copy gets.
  FileTime access_time;
  FileTime modification_time;
  bool restart = false;  // continue after what the destination holds
  bool platform = false; // through the platform's own copy service
  // What the caller found out moments before; a status not known is asked
  // for.
  KnownStatus known_source;
  KnownStatus known_destination;
};

// Copies the data of the request's source into its destination, through
// the buffers of `pool` unless the platform copies it.
CopyResult copy_file_data(const BufferPool &pool, const CopyRequest &request);

} // namespace zorov

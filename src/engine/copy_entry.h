// The entry of the copy engine: prepares one copy and hands it to the
// buffered block copy or the platform copy.
#pragma once

#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// The error number of the engine's last failure.
extern int32_t last_error;

// Copies the data of `source` into `destination`; returns a CopyStatus.
// The times become the copy's times.
int copy_file_data(const nchar *source, const nchar *destination, FileTime access_time,
                   FileTime modification_time, bool restart, bool platform);

} // namespace zorov

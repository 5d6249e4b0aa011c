// The per-file job: decides whether and how one file is copied, copies it
// and reports the outcome.
#pragma once

#include "engine/buffer_pool.h"
#include "platform/native.h"
#include "platform/platform.h"

#include <cstdint>

namespace zorov {

// What the selection rules know of one file.
struct FileStamp {
  bool exists = false; // destination only
  bool is_stream = false;
  int64_t size = 0;
  int64_t access_time = 0;       // seconds since 1970
  int64_t modification_time = 0; // seconds since 1970
  FileTime access_precise;       // the same two times at full precision
  FileTime modification_precise;
  uint32_t version_ms = 0;
  uint32_t version_ls = 0;
};

// What identify-only mode has listed so far.
struct IdentifyCounters {
  int32_t identified_files = 0;
  int64_t identified_bytes = 0;
};

// What a file job needs of the run it serves: the copy buffers, whether
// the target being served is the last one (a move deletes its source only
// then), and the counters identify-only mode adds the files it lists to.
struct JobContext {
  const BufferPool *pool = nullptr;
  bool last_target = false;
  IdentifyCounters *counters = nullptr;
};

// 1 when the file failed, 0 when it was copied, skipped, excluded, listed,
// or turned out to be a directory. Both names as the caller built them.
// `known_source`, when given, is the source's status taken just before.
int copy_one_file(const JobContext &job, const nstring &destination, const nstring &source,
                  bool destination_from_directory, const FileStatus *known_source = nullptr);

} // namespace zorov

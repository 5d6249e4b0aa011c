// The setting shared by the copy engine's tests: the in-memory platform, a
// pool of small buffers with a tiny block size so that every round boundary
// is reached with a few bytes, and the run-wide state reset per test.
#pragma once

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "engine/buffer_pool.h"
#include "engine/copy_entry.h"
#include "progress/progress.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace zorov {

class CopyTest : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    use_pool(3, 4);
    result = CopyResult();
  }

  // A second run that a test compares with its first: the state as a new
  // test finds it.
  void run_again() {
    TearDown();
    SetUp();
  }

  void use_pool(int count, int32_t block) {
    static uint8_t storage[31][64];
    pool = BufferPool();
    for (int i = 0; i < count; ++i)
      pool.buffers[i] = storage[i];
    pool.buffer_count = count;
    pool.run_block_size = block;
  }

  void open_log() {
    open_log_file(NT("run.log"), 0);
    ASSERT_NE(nullptr, log_file);
  }

  std::string log_text() {
    close_logs();
    return fake::exists(NT("run.log")) ? fake::content(NT("run.log")) : std::string();
  }

  // Copies "src" to "dst" with the source times of `source_times`; the
  // whole result stays in `result`.
  CopyStatus copy(bool restart = false, bool platform = false) {
    CopyRequest asked = request(NT("src"), NT("dst"));
    asked.restart = restart;
    asked.platform = platform;
    result = copy_file_data(pool, asked);
    return result.status;
  }

  // A copy of `source` to `destination` with the source times of the test.
  CopyRequest request(const nchar *source, const nchar *destination) {
    CopyRequest asked;
    asked.source = source;
    asked.destination = destination;
    asked.access_time = source_access;
    asked.modification_time = source_modification;
    return asked;
  }

  BufferPool pool;
  CopyResult result;

  FileTime source_access{1000000, 111};
  FileTime source_modification{2000000, 222222222};
};

// `count` bytes of varied content.
inline std::string bytes_of(size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i)
    text.push_back(char('a' + i % 26));
  return text;
}

} // namespace zorov

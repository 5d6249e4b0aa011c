#include "engine/buffer_pool.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

namespace zorov {
namespace {

class BufferPoolTest : public testing_support::FreshRun {
protected:
  void TearDown() override {
    free_buffer_pool(&pool);
    FreshRun::TearDown();
  }
  void open_log() {
    open_log_file(NT("run.log"), 0);
    ASSERT_NE(nullptr, log_file);
  }
  BufferPool pool;
};

TEST_F(BufferPoolTest, SizesFollowTheMemoryThereIs) {
  const size_t no_limit = size_t(-1);
  struct Row {
    const char *memory;
    bool checkpoint;
    size_t bytes; // largest allocation granted
    int count;    // allocations granted (-1: any number)
    uint32_t block_size;
    int32_t buffer_count;
    int allocations; // calls of allocate_memory
  } rows[] = {
      {"plenty", false, no_limit, -1, 65024, 31, 32},
      {"plenty, checkpoint", true, no_limit, -1, 65024, 1, 2},
      {"one large buffer", false, 65024, 1, 32512, 1, 2},
      {"one large buffer, checkpoint", true, 65024, 1, 32512, 1, 2},
      {"five large buffers", false, 65024, 5, 65024, 4, 6},
      {"only middle buffers", false, 32512, -1, 32512, 31, 33},
      {"one small buffer", false, 16256, 1, 8128, 1, 4},
      {"two small buffers, checkpoint", true, 16256, -1, 16256, 1, 4},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.memory);
    fake::reset();
    fake::limit_memory(row.bytes, row.count);
    pool = allocate_buffer_pool(row.checkpoint);
    EXPECT_EQ(row.block_size, uint32_t(pool.run_block_size));
    EXPECT_EQ(row.buffer_count, pool.buffer_count);
    EXPECT_EQ(row.allocations, fake::call_count(fake::op_allocate));
    // The buffer given back is gone from the table and from memory.
    EXPECT_EQ(row.buffer_count, fake::allocated_blocks());
    for (int i = 0; i < 32; ++i)
      EXPECT_EQ(i < row.buffer_count, pool.buffers[i] != nullptr) << "entry " << i;
    free_buffer_pool(&pool);
    EXPECT_EQ(0, fake::allocated_blocks());
  }
  EXPECT_EQ("", fake::console_error());
}

TEST_F(BufferPoolTest, NoBufferAtAnySizeEndsTheRunWithEight) {
  struct Row {
    bool batch;
    bool quiet;
    const char *output;
    const char *error;
  } rows[] = {
      {false, false, "", " Insufficient Memory\n"},
      {false, true, "", " Insufficient Memory\n"},
      {true, false, " Insufficient Memory\n", ""},
      {true, true, " Insufficient Memory\n", ""},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.batch ? "batch" : "no batch");
    fake::reset();
    reset_test_settings();
    test_settings().batch = row.batch;
    test_settings().quiet = row.quiet;
    open_log();
    // 8128 bytes would be granted; the pool must not go that low.
    fake::limit_memory(16255, -1);
    int code = -1;
    try {
      pool = allocate_buffer_pool(false);
    } catch (const fake::ProcessExit &exit) {
      code = exit.code;
    }
    EXPECT_EQ(8, code);
    EXPECT_EQ(3, fake::call_count(fake::op_allocate));
    EXPECT_EQ(row.output, fake::console_output());
    EXPECT_EQ(row.error, fake::console_error());
    EXPECT_EQ(" Insufficient memory\n", fake::content(NT("run.log")));
    EXPECT_EQ(nullptr, log_file);
    EXPECT_EQ(0, fake::open_text_count());
  }
}

TEST_F(BufferPoolTest, SizeReportGoesToStandardErrorAlways) {
  test_settings().report_buffers = true;
  test_settings().quiet = true;
  test_settings().batch = true;
  open_log();
  pool = allocate_buffer_pool(false);
  EXPECT_EQ("\nBuffer Size = 65024, Number of Buffers = 31, Total Size = 2015744\n",
            fake::console_error());
  EXPECT_EQ("", fake::content(NT("run.log")));
}

TEST_F(BufferPoolTest, SizeReportShowsTheHalvedSingleBuffer) {
  test_settings().report_buffers = true;
  fake::limit_memory(65024, 1);
  pool = allocate_buffer_pool(false);
  EXPECT_EQ("\nBuffer Size = 32512, Number of Buffers = 1, Total Size = 32512\n",
            fake::console_error());
}

TEST_F(BufferPoolTest, PacingIsFittedToOneBlock) {
  struct Row {
    const char *name;
    bool output; // output pacing, else input pacing
    bool quiet;
    size_t memory; // largest allocation granted
    uint32_t bytes;
    int32_t interval;
    uint32_t block_size; // and the bytes paced, one block
    int32_t fitted_interval;
    const char *message; // console and LogFile, "" for none
  } rows[] = {
      {"fewer bytes than a block", false, false, size_t(-1), 10240, 2000, 10240, 2000, ""},
      {"exactly a block", false, false, size_t(-1), 65024, 2000, 65024, 2000, ""},
      {"more bytes than a block", false, false, size_t(-1), 102400, 1000, 65024, 635,
       "Input pacing reset to 65024 bytes / 635 milliseconds.\n"},
      {"output pacing", true, false, size_t(-1), 102400, 1000, 65024, 635,
       "Output pacing reset to 65024 bytes / 635 milliseconds.\n"},
      {"scaled interval of 0", false, false, size_t(-1), 4000000000u, 1000, 65024, 1,
       "Input pacing reset to 65024 bytes / 1 milliseconds.\n"},
      {"interval needing 64 bits", true, false, size_t(-1), 65025, 2000000000, 65024, 1999969242,
       "Output pacing reset to 65024 bytes / 1999969242 milliseconds.\n"},
      {"fit to a halved buffer", false, false, 65024, 40000, 1000, 32512, 812,
       "Input pacing reset to 32512 bytes / 812 milliseconds.\n"},
      {"byte count wrapped to 0", false, false, size_t(-1), 0, 1000, 65024, 1,
       "Input pacing reset to 65024 bytes / 1 milliseconds.\n"},
      {"quiet", false, true, size_t(-1), 102400, 1000, 65024, 635,
       "Input pacing reset to 65024 bytes / 635 milliseconds.\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    fake::reset();
    free_buffer_pool(&pool);
    close_logs();
    reset_test_settings();
    open_log();
    test_settings().quiet = row.quiet;
    if (row.output) {
      test_settings().pace_output = true;
      test_settings().pace_output_bytes = row.bytes;
      test_settings().pace_output_interval_ms = row.interval;
    } else {
      test_settings().pace_input = true;
      test_settings().pace_input_bytes = row.bytes;
      test_settings().pace_input_interval_ms = row.interval;
    }
    fake::limit_memory(row.memory, row.memory == size_t(-1) ? -1 : 1);
    pool = allocate_buffer_pool(false);
    EXPECT_EQ(row.block_size, uint32_t(pool.run_block_size));
    EXPECT_EQ(row.fitted_interval,
              row.output ? pool.pace_output_interval_ms : pool.pace_input_interval_ms);
    EXPECT_EQ(-1, row.output ? pool.pace_input_interval_ms : pool.pace_output_interval_ms);
    EXPECT_EQ(row.quiet ? "" : row.message, fake::console_error());
    EXPECT_EQ(row.message, fake::content(NT("run.log")));
    EXPECT_EQ("", fake::console_output());
  }
}

TEST_F(BufferPoolTest, FreeingTwiceIsHarmless) {
  pool = allocate_buffer_pool(false);
  free_buffer_pool(&pool);
  free_buffer_pool(&pool);
  EXPECT_EQ(0, fake::allocated_blocks());
}

} // namespace
} // namespace zorov

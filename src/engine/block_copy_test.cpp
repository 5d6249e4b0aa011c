// The buffered block copy through the in-memory platform: rounds, completion
// of short transfers, failures, modes, pacing and the console bytes.
#include "engine/block_copy.h"

#include "engine/copy_status.h"
#include "support/copy_test_fixture.h"
#include "support/row_tests.h"
#include "support/test_settings.h"

#include <cerrno>
#include <cstdio>
#include <tuple>
#include <vector>

namespace zorov {
namespace {

class BlockCopyTest : public CopyTest {};

// Three buffers of four bytes; "|/-\" is the spinner.
struct ConsoleBytesFollowEveryRoundRow {
  size_t size;
  const char *console;
} const kConsoleBytesFollowEveryRoundRows[] = {
    {0, "  0%|\b/\b\b\b\b\b"},
    {1, "  0%|\b/\b-\b\b\b\b50%\b\b\b\b"},
    {4, "  0%|\b/\b-\b\b\b\b80%\\\b\b\b\b\b"},
    {12, "  0%|\b/\b-\b\\\b\b\b\b30%|\b\b\b\b61%/\b\b\b\b92%-\b\\\b\b\b\b\b"},
    {14, "  0%|\b/\b-\b\\\b\b\b\b26%|\b\b\b\b53%/\b\b\b\b80%-\b\\\b|\b\b\b\b93%\b\b\b\b"},
};

using ConsoleBytesFollowEveryRoundTest =
    testing_support::RowTest<BlockCopyTest, ConsoleBytesFollowEveryRoundRow>;

TEST_P(ConsoleBytesFollowEveryRoundTest, ConsoleBytesFollowEveryRound) {
  const ConsoleBytesFollowEveryRoundRow &row = GetParam();
  SCOPED_TRACE(row.size);
  std::string data = bytes_of(row.size);
  fake::add_file(NT("src"), data);
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(row.console, fake::console_output());
  EXPECT_EQ("", fake::console_error());
  EXPECT_EQ(data, fake::content(NT("dst")));
  EXPECT_EQ(0, fake::open_descriptor_count());
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, ConsoleBytesFollowEveryRoundTest,
                         ::testing::ValuesIn(kConsoleBytesFollowEveryRoundRows));

TEST_F(BlockCopyTest, BatchShowsNothingAndAsksNoLength) {
  fake::add_file(NT("src"), bytes_of(30));
  test_settings().batch = true;
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ("", fake::console_output());
  EXPECT_EQ(0, fake::call_count(fake::op_length));
  EXPECT_EQ(bytes_of(30), fake::content(NT("dst")));
}

TEST_F(BlockCopyTest, QuietShowsNothingAndOpensNoWindow) {
  fake::add_file(NT("src"), bytes_of(400));
  test_settings().quiet = true;
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ("", fake::console_output());
  EXPECT_TRUE(fake::window_events().empty());
}

TEST_F(BlockCopyTest, AFirstPerBlockFigureOfAtMostTwoOpensTheWindow) {
  fake::add_file(NT("src"), bytes_of(400));
  EXPECT_EQ(copy_ok, copy());
  std::vector<std::string> events = fake::window_events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ("open Copying src", events[0]);
  EXPECT_EQ("position 1", events[1]);
  EXPECT_EQ("close", events.back());
}

TEST_F(BlockCopyTest, AFirstFigureAboveTwoOpensNoWindow) {
  fake::add_file(NT("src"), bytes_of(100));
  EXPECT_EQ(copy_ok, copy());
  EXPECT_TRUE(fake::window_events().empty());
}

// With one buffer every block is a round's last: no per-block update.
TEST_F(BlockCopyTest, ASingleBufferOpensNoWindow) {
  use_pool(1, 4);
  fake::add_file(NT("src"), bytes_of(400));
  EXPECT_EQ(copy_ok, copy());
  EXPECT_TRUE(fake::window_events().empty());
}

// Which transfer comes up short (from 1), and how many bytes it moves.
typedef std::tuple<int, uint32_t> ShortTransfer;
class ShortReadTest : public testing_support::RowTest<BlockCopyTest, ShortTransfer> {};
class ShortWriteTest : public testing_support::RowTest<BlockCopyTest, ShortTransfer> {};

// 30 bytes: three rounds, the last one short.
TEST_P(ShortReadTest, ShortReadsAnywhereAreCompleted) {
  const int nth = std::get<0>(GetParam());
  const uint32_t bytes = std::get<1>(GetParam());
  fake::add_file(NT("src"), bytes_of(30));
  fake::short_transfer(fake::op_read, nth, bytes);
  EXPECT_EQ(copy_ok, copy());
  if (bytes == 0) {
    // A read of nothing is the end of the input: what came before it is
    // written, nothing after it.
    EXPECT_EQ(0u, bytes_of(30).find(fake::content(NT("dst"))));
  } else {
    EXPECT_EQ(bytes_of(30), fake::content(NT("dst")));
  }
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, ShortReadTest,
                         ::testing::Combine(::testing::Range(1, 13),
                                            ::testing::Values(0u, 1u, 3u)));

TEST_P(ShortWriteTest, ShortWritesAnywhereAreCompleted) {
  const int nth = std::get<0>(GetParam());
  const uint32_t bytes = std::get<1>(GetParam());
  fake::add_file(NT("src"), bytes_of(30));
  fake::short_transfer(fake::op_write, nth, bytes);
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(bytes_of(30), fake::content(NT("dst")));
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, ShortWriteTest,
                         ::testing::Combine(::testing::Range(1, 11), ::testing::Values(1u, 3u)));

// A read that stops where the source ended when the copy began is its end;
// one that stops anywhere else is completed, as the source may hold more
// than its status said.
struct OnlyAShortReadBeforeTheKnownEndIsCompletedRow {
  size_t size;     // what the status says
  size_t grown_to; // what the source holds by its first read
  int reads;
} const kOnlyAShortReadBeforeTheKnownEndIsCompletedRows[] = {
    {10, 10, 3}, // 4, 4, 2: the end
    {12, 12, 4}, // whole blocks: the end is asked for
    {0, 0, 1},
    {6, 10, 4}, // 4, 4, then 2 beyond what the status said: asked again
};

using OnlyAShortReadBeforeTheKnownEndIsCompletedTest =
    testing_support::RowTest<BlockCopyTest, OnlyAShortReadBeforeTheKnownEndIsCompletedRow>;

TEST_P(OnlyAShortReadBeforeTheKnownEndIsCompletedTest, OnlyAShortReadBeforeTheKnownEndIsCompleted) {
  const OnlyAShortReadBeforeTheKnownEndIsCompletedRow &row = GetParam();
  SCOPED_TRACE(row.size);
  fake::add_file(NT("src"), bytes_of(row.size));
  fake::before_call(fake::op_read, 1,
                    [&row] { fake::add_file(NT("src"), bytes_of(row.grown_to)); });
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(bytes_of(row.grown_to), fake::content(NT("dst")));
  EXPECT_EQ(row.reads, fake::call_count(fake::op_read));
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, OnlyAShortReadBeforeTheKnownEndIsCompletedTest,
                         ::testing::ValuesIn(kOnlyAShortReadBeforeTheKnownEndIsCompletedRows));

struct AReadErrorDropsTheRoundAndNamesTheBufferRow {
  int failing_read;
  int position;   // of the failing buffer in its round, from 1
  size_t written; // bytes the destination keeps
} const kAReadErrorDropsTheRoundAndNamesTheBufferRows[] = {
    {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {4, 1, 12}, {5, 2, 12}};

using AReadErrorDropsTheRoundAndNamesTheBufferTest =
    testing_support::RowTest<BlockCopyTest, AReadErrorDropsTheRoundAndNamesTheBufferRow>;

TEST_P(AReadErrorDropsTheRoundAndNamesTheBufferTest, AReadErrorDropsTheRoundAndNamesTheBuffer) {
  const AReadErrorDropsTheRoundAndNamesTheBufferRow &row = GetParam();
  SCOPED_TRACE(row.failing_read);
  open_log();
  fake::add_file(NT("src"), bytes_of(40));
  fake::fail_call(fake::op_read, row.failing_read, EIO);
  EXPECT_EQ(copy_read_failed, copy());
  EXPECT_EQ(EIO, result.error_number);
  EXPECT_EQ(bytes_of(row.written), fake::content(NT("dst")));
  char line[80];
  std::snprintf(line, sizeof line, "Reading buffer %d at %8x length 4\n", row.position,
                unsigned(reinterpret_cast<uintptr_t>(pool.buffers[row.position - 1])));
  EXPECT_EQ(line, fake::console_error());
  EXPECT_EQ(line, log_text());
  EXPECT_EQ(0, fake::open_descriptor_count());
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, AReadErrorDropsTheRoundAndNamesTheBufferTest,
                         ::testing::ValuesIn(kAReadErrorDropsTheRoundAndNamesTheBufferRows));

TEST_F(BlockCopyTest, AReadErrorUnderQuietIsLoggedOnly) {
  test_settings().quiet = true;
  fake::add_file(NT("src"), bytes_of(10));
  fake::fail_call(fake::op_read, 1, EIO);
  EXPECT_EQ(copy_read_failed, copy());
  EXPECT_EQ("", fake::console_error());
}

struct WriteFailuresStopTheCopyWithTheirReasonRow {
  const char *name;
  int failing_write; // fail_call
  int short_write;   // short_transfer of `short_bytes`
  uint32_t short_bytes;
  int64_t free_space; // -1 unlimited
  int error_number;
  size_t written;
} const kWriteFailuresStopTheCopyWithTheirReasonRows[] = {
    {"first block", 1, 0, 0, -1, EIO, 0},
    {"second block", 2, 0, 0, -1, EIO, 4},
    {"round's last buffer", 3, 0, 0, -1, EIO, 8},
    {"zero-byte write", 0, 1, 0, -1, ENOSPC, 0},
    {"zero-byte completion", 0, 3, 0, -1, ENOSPC, 6},
    {"disk fills", 0, 0, 0, 6, ENOSPC, 6},
};

using WriteFailuresStopTheCopyWithTheirReasonTest =
    testing_support::RowTest<BlockCopyTest, WriteFailuresStopTheCopyWithTheirReasonRow>;

TEST_P(WriteFailuresStopTheCopyWithTheirReasonTest, WriteFailuresStopTheCopyWithTheirReason) {
  const WriteFailuresStopTheCopyWithTheirReasonRow &row = GetParam();
  SCOPED_TRACE(row.name);
  fake::add_file(NT("src"), bytes_of(40));
  if (row.failing_write)
    fake::fail_call(fake::op_write, row.failing_write, row.error_number);
  if (row.short_write) {
    if (row.short_write == 3)
      fake::short_transfer(fake::op_write, 2, 2);
    fake::short_transfer(fake::op_write, row.short_write, row.short_bytes);
  }
  fake::set_free_space(row.free_space);
  EXPECT_EQ(copy_write_failed, copy());
  EXPECT_EQ(row.error_number, result.error_number);
  EXPECT_EQ(bytes_of(row.written), fake::content(NT("dst")));
  EXPECT_NE(source_modification.seconds, fake::status_of(NT("dst")).modification_time.seconds);
  EXPECT_EQ(0, fake::open_descriptor_count());
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, WriteFailuresStopTheCopyWithTheirReasonTest,
                         ::testing::ValuesIn(kWriteFailuresStopTheCopyWithTheirReasonRows));

TEST_F(BlockCopyTest, AFailedCloseOfTheOutputIsAWriteError) {
  fake::add_file(NT("src"), bytes_of(5));
  fake::fail_call(fake::op_close, 2, EIO);
  EXPECT_EQ(copy_write_failed, copy());
  EXPECT_EQ(EIO, result.error_number);
  EXPECT_NE(source_modification.seconds, fake::status_of(NT("dst")).modification_time.seconds);
}

struct RestartContinuesAfterWhatTheDestinationHoldsRow {
  bool exists;
  const char *held;
  const char *expected;
} const kRestartContinuesAfterWhatTheDestinationHoldsRows[] = {
    {false, "", "abcdefghij"},          {true, "", "abcdefghij"},
    {true, "abc", "abcdefghij"},        {true, "abcd", "abcdefghij"},
    {true, "abcdefghij", "abcdefghij"}, {true, "abcdefghijXY", "abcdefghijXY"},
};

using RestartContinuesAfterWhatTheDestinationHoldsTest =
    testing_support::RowTest<BlockCopyTest, RestartContinuesAfterWhatTheDestinationHoldsRow>;

TEST_P(RestartContinuesAfterWhatTheDestinationHoldsTest,
       RestartContinuesAfterWhatTheDestinationHolds) {
  const RestartContinuesAfterWhatTheDestinationHoldsRow &row = GetParam();
  SCOPED_TRACE(row.held);
  fake::add_file(NT("src"), "abcdefghij");
  if (row.exists)
    fake::add_file(NT("dst"), row.held);
  EXPECT_EQ(copy_ok, copy(true));
  EXPECT_EQ(row.expected, fake::content(NT("dst")));
  EXPECT_EQ(source_modification.seconds, fake::status_of(NT("dst")).modification_time.seconds);
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, RestartContinuesAfterWhatTheDestinationHoldsTest,
                         ::testing::ValuesIn(kRestartContinuesAfterWhatTheDestinationHoldsRows));

using RestartFailureTest = testing_support::RowTest<BlockCopyTest, fake::Operation>;

TEST_P(RestartFailureTest, RestartFailuresToOpenOrPositionFailTheDestinationWithoutMessage) {
  fake::add_file(NT("src"), "abcdefghij");
  fake::add_file(NT("dst"), "abc");
  fake::fail_call(GetParam(), 1, EIO);
  EXPECT_EQ(copy_destination_failed, copy(true));
  EXPECT_EQ(EIO, result.error_number);
  EXPECT_EQ("", fake::console_error());
  EXPECT_EQ("abc", fake::content(NT("dst")));
  EXPECT_EQ(0, fake::open_descriptor_count());
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, RestartFailureTest,
                         ::testing::Values(fake::op_length, fake::op_seek));

struct AppendAddsToAnExistingDestinationOnlyRow {
  bool exists;
  bool safe;
  const char *expected;
} const kAppendAddsToAnExistingDestinationOnlyRows[] = {
    {true, false, "old:new data"},
    {false, false, "new data"},
    {true, true, "old:new data"}, // the temporary file starts as the old content
};

using AppendAddsToAnExistingDestinationOnlyTest =
    testing_support::RowTest<BlockCopyTest, AppendAddsToAnExistingDestinationOnlyRow>;

TEST_P(AppendAddsToAnExistingDestinationOnlyTest, AppendAddsToAnExistingDestinationOnly) {
  const AppendAddsToAnExistingDestinationOnlyRow &row = GetParam();
  test_settings().append = true;
  test_settings().safe_overwrite = row.safe;
  fake::add_file(NT("src"), "new data");
  if (row.exists)
    fake::add_file(NT("dst"), "old:");
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(row.expected, fake::content(NT("dst")));
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, AppendAddsToAnExistingDestinationOnlyTest,
                         ::testing::ValuesIn(kAppendAddsToAnExistingDestinationOnlyRows));

TEST_F(BlockCopyTest, AppendedFiguresCountTheWholeOutput) {
  test_settings().append = true;
  use_pool(1, 4);
  fake::add_file(NT("src"), "abcd");
  fake::add_file(NT("dst"), "12345678");
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ("  0%|\b/\b\b\b\b240%-\b\\\b\b\b\b\b", fake::console_output());
}

TEST_F(BlockCopyTest, AnOutputThatWillNotOpenIsReportedOnStandardError) {
  test_settings().quiet = true;
  test_settings().batch = true;
  fake::add_file(NT("src"), "data");
  fake::add_file(NT("dst"), "old", 0, true);
  EXPECT_EQ(copy_destination_failed, copy());
  EXPECT_EQ("dst: Unable to Open output file" + error_text(EACCES) + "\n", fake::console_error());
  EXPECT_EQ(EACCES, result.error_number);
  EXPECT_EQ("old", fake::content(NT("dst")));
  EXPECT_EQ(0, fake::open_descriptor_count());
}

struct PacingWaitsOutEachIntervalRow {
  const char *name;
  bool input;
  int buffers;
  size_t size;
  uint32_t clock;
  uint32_t step;
  std::vector<uint32_t> pauses;
} const kPacingWaitsOutEachIntervalRows[] = {
    // Input: after every read; the end only yields, and the round's last
    // buffer is written without a pause.
    {"input, still clock", true, 1, 4, 1000, 0, {10, 10, 0}},
    {"input, slow clock", true, 1, 4, 1000, 20, {0}},
    {"input, clock wraps", true, 1, 4, 0xFFFFFFFEu, 4, {6, 6, 0}},
    // Output: after every write, the round's last buffer included.
    {"output, one buffer", false, 1, 4, 1000, 0, {0, 10, 0, 0}},
    {"output, two blocks", false, 3, 8, 1000, 0, {0, 0, 0, 10, 10, 0}},
    {"output, clock wraps", false, 1, 4, 0xFFFFFFFEu, 2, {0, 8, 0, 0}},
};

using PacingWaitsOutEachIntervalTest =
    testing_support::RowTest<BlockCopyTest, PacingWaitsOutEachIntervalRow>;

TEST_P(PacingWaitsOutEachIntervalTest, PacingWaitsOutEachInterval) {
  const PacingWaitsOutEachIntervalRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().batch = true;
  use_pool(row.buffers, 4);
  if (row.input) {
    test_settings().pace_input = true;
    pool.pace_input_interval_ms = 10;
  } else {
    test_settings().pace_output = true;
    pool.pace_output_interval_ms = 10;
  }
  fake::add_file(NT("src"), bytes_of(row.size));
  fake::set_clock(row.clock, row.step);
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(row.pauses, fake::pauses());
  EXPECT_EQ(bytes_of(row.size), fake::content(NT("dst")));
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, PacingWaitsOutEachIntervalTest,
                         ::testing::ValuesIn(kPacingWaitsOutEachIntervalRows));

TEST_F(BlockCopyTest, WithoutPacingTheBlocksNeverReadTheClock) {
  test_settings().batch = true;
  use_pool(3, 4);
  fake::add_file(NT("src"), bytes_of(40));
  fake::set_clock(1000, 1);
  EXPECT_EQ(copy_ok, copy());
  // The one reading is the entry's, for the names it may make.
  EXPECT_EQ(1001u, milliseconds_now());
}

struct ThroughputIsReportedUnderTimingOrPacingRow {
  int64_t wall_step;
  const char *console;
  const char *log;
} const kThroughputIsReportedUnderTimingOrPacingRows[] = {
    {0, " (10 bytes/sec)", " (10 bytes copied in 1 seconds at 10 bytes/second) "},
    {2, " (5 bytes/sec)", " (10 bytes copied in 2 seconds at 5 bytes/second) "},
};

using ThroughputIsReportedUnderTimingOrPacingTest =
    testing_support::RowTest<BlockCopyTest, ThroughputIsReportedUnderTimingOrPacingRow>;

TEST_P(ThroughputIsReportedUnderTimingOrPacingTest, ThroughputIsReportedUnderTimingOrPacing) {
  const ThroughputIsReportedUnderTimingOrPacingRow &row = GetParam();
  test_settings().batch = true;
  test_settings().timing = true;
  open_log();
  fake::add_file(NT("src"), bytes_of(10));
  fake::set_wall_clock(500, row.wall_step);
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(row.console, fake::console_output());
  EXPECT_EQ(row.log, log_text());
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, ThroughputIsReportedUnderTimingOrPacingTest,
                         ::testing::ValuesIn(kThroughputIsReportedUnderTimingOrPacingRows));

TEST_F(BlockCopyTest, TheCopyGetsTheSourceTimesAndPermissions) {
  fake::add_file(NT("src"), "data");
  fake::set_permissions(NT("src"), 0750);
  EXPECT_EQ(copy_ok, copy());
  FileStatus written = fake::status_of(NT("dst"));
  EXPECT_EQ(source_access.seconds, written.access_time.seconds);
  EXPECT_EQ(source_access.nanoseconds, written.access_time.nanoseconds);
  EXPECT_EQ(source_modification.seconds, written.modification_time.seconds);
  EXPECT_EQ(source_modification.nanoseconds, written.modification_time.nanoseconds);
  // Permission bits where the platform has them (0 where it has none).
  EXPECT_EQ(fake::status_of(NT("src")).permissions, written.permissions);
}

struct HiddenAttributesGoToTheFileThatIsLeftRow {
  bool safe;
  bool fail_write;
  int attribute_calls;
} const kHiddenAttributesGoToTheFileThatIsLeftRows[] = {
    {false, false, 1}, {true, false, 1}, {false, true, 1}, {true, true, 0}};

using HiddenAttributesGoToTheFileThatIsLeftTest =
    testing_support::RowTest<BlockCopyTest, HiddenAttributesGoToTheFileThatIsLeftRow>;

TEST_P(HiddenAttributesGoToTheFileThatIsLeftTest, HiddenAttributesGoToTheFileThatIsLeft) {
  const HiddenAttributesGoToTheFileThatIsLeftRow &row = GetParam();
  test_settings().set_hidden_attributes = true;
  test_settings().safe_overwrite = row.safe;
  fake::add_file(NT("src"), "data");
  fake::add_file(NT("dst"), "old");
  if (row.fail_write)
    fake::fail_call(fake::op_write, 1, EIO);
  copy();
  EXPECT_EQ(row.attribute_calls, fake::call_count(fake::op_attributes));
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, HiddenAttributesGoToTheFileThatIsLeftTest,
                         ::testing::ValuesIn(kHiddenAttributesGoToTheFileThatIsLeftRows));

// A sparse source: "abcd", a hole of 10, "ef", a hole of 8 up to its end.
// Blocks of 4 that lie wholly in a hole are not written but leave holes of
// their own; everything shown, paused and opened is as for the same bytes
// held as data.
typedef std::vector<std::pair<int64_t, int64_t>> Holes;
struct SparseRow {
  const char *name;
  bool batch, restart, append, extent_fails;
  const char *before; // the destination's content before, null: none
  Holes holes;
} const kSparseRows[] = {
    {"plain", false, false, false, false, nullptr, {{4, 8}, {16, 8}}},
    {"batch", true, false, false, false, nullptr, {{4, 8}, {16, 8}}},
    {"restart across holes", false, true, false, false, "abcd\0\0\0\0\0\0", {{10, 4}, {18, 4}}},
    {"append", false, false, true, false, "old", {{7, 8}, {19, 8}}},
    {"holes unknown", false, false, false, true, nullptr, {}},
};

using SparseTest = testing_support::RowTest<BlockCopyTest, SparseRow>;

TEST_P(SparseTest, HolesOfASparseSourceStayHoles) {
  fake::add_file(NT("src"), "");
  if (fake::status_of(NT("src")).allocated < 0)
    GTEST_SKIP() << "the platform reads every file as data";
  const std::string data = "abcd" + std::string(10, '\0') + "ef" + std::string(8, '\0');
  {
    const SparseRow &row = GetParam();
    SCOPED_TRACE(row.name);
    std::string shown[2], expected;
    std::vector<uint32_t> paused[2];
    std::vector<std::string> windows[2];
    // The same copy of the same bytes held as data, then with holes.
    for (int sparse = 0; sparse < 2; ++sparse) {
      if (sparse)
        run_again();
      test_settings().batch = row.batch;
      test_settings().append = row.append;
      fake::add_file(NT("src"), data);
      if (sparse)
        fake::set_holes(NT("src"), {{4, 10}, {16, 8}});
      if (row.before)
        fake::add_file(NT("dst"), std::string(row.before, row.restart ? 10 : 3));
      expected = fake::content(NT("dst")).substr(0, row.restart ? 0 : std::string::npos) + data;
      if (sparse && row.extent_fails)
        fake::fail_call(fake::op_extent, 0, EINVAL);
      EXPECT_EQ(copy_ok, copy(row.restart));
      EXPECT_EQ(expected, fake::content(NT("dst")));
      EXPECT_EQ(sparse ? row.holes : Holes(), fake::holes(NT("dst")));
      shown[sparse] = fake::console_output();
      paused[sparse] = fake::pauses();
      windows[sparse] = fake::window_events();
    }
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_EQ(paused[0], paused[1]);
    EXPECT_EQ(windows[0], windows[1]);
  }
}

INSTANTIATE_TEST_SUITE_P(BlockCopy, SparseTest, ::testing::ValuesIn(kSparseRows));

// A long hole costs the console copy a lengthening and a look at the
// output's length per round, not per block: 60 blocks of hole in rounds of
// 3 buffers.
TEST_F(BlockCopyTest, ALongHoleIsSettledOncePerRound) {
  const std::string data = "abcd" + std::string(240, '\0') + "efgh";
  fake::add_file(NT("src"), data);
  fake::set_holes(NT("src"), {{4, 240}});
  if (fake::status_of(NT("src")).allocated < 0)
    GTEST_SKIP() << "the platform reads every file as data";
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ(data, fake::content(NT("dst")));
  const int rounds = 63 / 3;
  EXPECT_LE(fake::call_count(fake::op_write), rounds + 2);
  EXPECT_LE(fake::call_count(fake::op_length), 2 * rounds + 4);
}

// A sparse source that became shorter after its status was taken is
// copied to its real end, never lengthened with holes beyond it.
TEST_F(BlockCopyTest, ASparseSourceThatShrankEndsWhereItEnds) {
  fake::add_file(NT("src"), std::string("abcd") + std::string(4, '\0'));
  fake::set_holes(NT("src"), {{4, 4}});
  KnownStatus known;
  known.known = known.exists = true;
  known.status = fake::status_of(NT("src"));
  if (known.status.allocated < 0)
    GTEST_SKIP() << "the platform reads every file as data";
  known.status.size = 24; // as it was
  CopyRequest asked = request(NT("src"), NT("dst"));
  asked.known_source = known;
  EXPECT_EQ(copy_ok, copy_file_data(pool, asked).status);
  EXPECT_EQ(fake::content(NT("src")), fake::content(NT("dst")));
}

} // namespace
} // namespace zorov

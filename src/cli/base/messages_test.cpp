#include "cli/base/messages.h"

#include "cli/base/options.h"
#include "platform/platform.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/row_tests.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace zorov {
namespace {

TEST(FormatText, ConversionsOfTheMessageLanguage) {
  struct Row {
    std::string produced;
    std::string expected;
  };
  // Narrow texts go in as const pointers of a variable: where va_list is a
  // char pointer a lone literal would pick the va_list form.
  const std::string done = "done";
  const Row rows[] = {
      {format_text("%ls ===> %ls", NT("a.txt"), NT("b/a.txt")), "a.txt ===> b/a.txt"},
      {format_text("[%5d|%-3d|%ld]", int32_t(42), int32_t(7), int32_t(-5)), "[   42|7  |-5]"},
      {format_text("%I64d", int64_t(-9000000000)), "-9000000000"},
      {format_text("%12I64d\t", int64_t(4294967296)), "  4294967296\t"},
      {format_text("%u %x %8x", uint32_t(4294967295u), uint32_t(255), uint32_t(0xabc)),
       "4294967295 ff      abc"},
      {format_text(" %2I64d%c", int64_t(5), '%'), "  5%"},
      {format_text("\b\b\b%2I64d%c", int64_t(100), '%'), "\b\b\b100%"},
      {format_text("100%% %s", done.c_str()), "100% done"},
      {format_text("%.3ls|%s", NT("abcdef"), "x"), "abc|x"},
      {format_text("%ls", static_cast<const nchar *>(nullptr)), "(null)"},
      {format_text("%q and %"), "%q and %"},
      {format_text("Reading buffer %d at %8x length %u\n", int32_t(3), uint32_t(0x1000),
                   uint32_t(65024)),
       "Reading buffer 3 at     1000 length 65024\n"},
  };
  for (const Row &row : rows)
    EXPECT_EQ(row.produced, row.expected);
}

TEST(FormatText, LongTextsAreKeptWhole) {
  std::string long_text(5000, 'x');
  nstring long_name(5000, NT('n'));
  EXPECT_EQ(format_text("<%s>", long_text.c_str()), "<" + long_text + ">");
  EXPECT_EQ(format_text("%ls!", long_name.c_str()), std::string(5000, 'n') + "!");
}

class ChannelsTest : public testing_support::FreshRun {
protected:
  void open_logs() {
    open_log_file(NT("run.log"), 0);
    open_copied_list(NT("run.log.fil"));
    ASSERT_NE(log_file, nullptr);
    ASSERT_NE(copied_list, nullptr);
  }
};

struct ChannelRow {
  bool quiet;
  bool with_log;
  void (*write)(const char *format, ...);
  std::string output;
  std::string error;
  std::string log;
};

const std::string text = "message 7\n";
const ChannelRow kChannelRows[] = {
    {false, false, report_output, text, "", ""},  {false, false, report_error, "", text, ""},
    {false, true, report_output, text, "", text}, {false, true, report_error, "", text, text},
    {true, true, report_output, "", "", text},    {true, true, report_error, "", "", text},
    {true, true, print_output, text, "", ""},     {true, true, print_error, "", text, ""},
    {true, true, print_log, "", "", text},        {false, false, print_log, "", "", ""},
};

using QuietChannelTest = testing_support::RowTest<ChannelsTest, ChannelRow>;

TEST_P(QuietChannelTest, QuietSilencesOnlyTheConsoleOfTheReportRules) {
  const ChannelRow &row = GetParam();
  if (row.with_log)
    open_logs();
  test_settings().quiet = row.quiet;
  row.write("message %d\n", int32_t(7));
  EXPECT_EQ(fake::console_output(), row.output);
  EXPECT_EQ(fake::console_error(), row.error);
  if (row.with_log) {
    EXPECT_EQ(fake::content(NT("run.log")), row.log);
  }
}

INSTANTIATE_TEST_SUITE_P(Channels, QuietChannelTest, ::testing::ValuesIn(kChannelRows));

// A name a line read back would not give exactly gets no line: "report\n."
// would read back as "report" and ".", "endcr\r" as "endcr".
TEST_F(ChannelsTest, CopiedListHoldsOneNamePerLine) {
  EXPECT_TRUE(record_copied(NT("/src/ignored")));
  open_logs();
  EXPECT_TRUE(record_copied(NT("/src/a.txt")));
  EXPECT_TRUE(record_copied(NT("/src/b c.txt")));
  EXPECT_TRUE(record_copied(NT("/src/mid\rcr")));
  EXPECT_FALSE(record_copied(NT("/src/report\n.")));
  EXPECT_FALSE(record_copied(NT("/src/endcr\r")));
  EXPECT_EQ(fake::content(NT("run.log.fil")), "/src/a.txt\n/src/b c.txt\n/src/mid\rcr\n");
  const std::string unlisted =
      "/src/report\n.: Name can't be one line of the copied files list; not listed.\n"
      "/src/endcr\r: Name can't be one line of the copied files list; not listed.\n";
  EXPECT_EQ(fake::content(NT("run.log")), unlisted);
  EXPECT_EQ(fake::console_output(), unlisted);
}

TEST_F(ChannelsTest, CloseLogsEndsBothStreams) {
  open_logs();
  print_log("before\n");
  close_logs();
  EXPECT_EQ(log_file, nullptr);
  EXPECT_EQ(copied_list, nullptr);
  EXPECT_EQ(fake::open_text_count(), 0);
  print_log("after\n");
  report_error("after\n");
  record_copied(NT("/src/late"));
  EXPECT_EQ(fake::content(NT("run.log")), "before\n");
  EXPECT_EQ(fake::content(NT("run.log.fil")), "");
  close_logs();
}

// An interrupted run keeps every line it finished: each complete line is
// handed to the system at once, a line still open is not.
TEST_F(ChannelsTest, LogLinesReachTheSystemWhenComplete) {
  open_logs();
  report_output("%ls ===> %ls", NT("/a"), NT("/b"));
  EXPECT_EQ(fake::flushed_content(NT("run.log")), "");
  report_output(" : Ok\n");
  record_copied(NT("/a"));
  report_output("%ls ===> %ls", NT("/c"), NT("/d"));
  EXPECT_EQ(fake::flushed_content(NT("run.log")), "/a ===> /b : Ok\n");
  EXPECT_EQ(fake::flushed_content(NT("run.log.fil")), "/a\n");
}

// A stream the system stops taking text from is told of once, unless quiet,
// and written no more; the CopiedList's loss is logged as its failed open
// is. The calls, in order: the LogFile's "one" (write 1, flush 1), the
// CopiedList's "/a" (write 2, flush 2), "two" and "/b" (3 and 4), and the
// closes (flushes 5 and 6).
struct LossRow {
  fake::Operation operation;
  std::vector<int> failing_calls;
  bool quiet;
  std::string error;
  std::string log;
  std::string list;
};

std::vector<LossRow> loss_rows() {
  const std::string full = error_text(ENOSPC);
  const std::string log_lost =
      "run.log: Unable to write.  " + full + "\nLogging will be disabled.\n";
  const std::string disabled = "Logging of copied files will be disabled.\n";
  const std::string list_lost = "run.log.fil: Unable to write.  " + full + "\n" + disabled;
  return {
      {fake::op_flush_text, {1}, false, log_lost, "one\n", "/a\n/b\n"},
      {fake::op_flush_text, {1}, true, "", "one\n", "/a\n/b\n"},
      {fake::op_write_text, {2}, false, list_lost, "one\n" + disabled + "two\n", ""},
      {fake::op_write_text, {2}, true, "", "one\n" + disabled + "two\n", ""},
      {fake::op_flush_text, {5, 6}, false, log_lost + list_lost, "one\ntwo\n", "/a\n/b\n"},
  };
}

using LossTest = testing_support::RowTest<ChannelsTest, LossRow>;

TEST_P(LossTest, AStreamThatLosesTextIsToldOnceAndWrittenNoMore) {
  const LossRow &row = GetParam();
  open_logs();
  test_settings().quiet = row.quiet;
  for (int call : row.failing_calls)
    fake::fail_call(row.operation, call, ENOSPC);
  report_output("one\n");
  record_copied(NT("/a"));
  report_output("two\n");
  record_copied(NT("/b"));
  close_logs();
  EXPECT_EQ(fake::console_output(), row.quiet ? "" : "one\ntwo\n");
  EXPECT_EQ(fake::console_error(), row.error);
  EXPECT_EQ(fake::content(NT("run.log")), row.log);
  EXPECT_EQ(fake::content(NT("run.log.fil")), row.list);
  EXPECT_EQ(fake::open_text_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Channels, LossTest, ::testing::ValuesIn(loss_rows()));

TEST_F(ChannelsTest, ErrorTextAlwaysReachesStandardError) {
  test_settings().quiet = true;
  print_error_text(ENOENT);
  EXPECT_EQ(fake::console_error(), error_text(ENOENT) + "\n");
}

} // namespace
} // namespace zorov

#include "engine/platform_copy.h"

#include "support/copy_test_fixture.h"
#include "support/test_settings.h"

#include <cerrno>
#include <cstring>

namespace zorov {
namespace {

class PlatformCopy : public CopyTest {};

TEST_F(PlatformCopy, FiguresFollowEveryReportAndTheWindowOpensEarly) {
  fake::add_file(NT("src"), bytes_of(300));
  fake::set_copy_chunk(5);
  EXPECT_EQ(copy(false, true), 0);
  EXPECT_EQ(fake::content(NT("dst")), bytes_of(300));
  std::string out = fake::console_output();
  // The first report has nothing transferred: only the spinner moves.
  EXPECT_EQ(out.find("  0%|\b/\b\b\b\b 1%-\b\b\b\b 3%"), 0u) << out;
  // Every report prints its figure, changed or not, and the last shows 100.
  EXPECT_EQ(out.substr(out.size() - 7), "\b\b\b100%");
  EXPECT_EQ(out.find("\b\b\b\b\b"), std::string::npos); // no erasure on this path
  std::vector<std::string> events = fake::window_events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "open Copying " + std::string("src"));
  EXPECT_EQ(events.back(), "close");
}

TEST_F(PlatformCopy, NoWindowWhenTheFirstFigureIsAboveTwo) {
  fake::add_file(NT("src"), bytes_of(100));
  fake::set_copy_chunk(3);
  EXPECT_EQ(copy(false, true), 0);
  EXPECT_TRUE(fake::window_events().empty());
}

TEST_F(PlatformCopy, EmptySourceShowsOnlyTheFirstFigure) {
  fake::add_file(NT("src"), "");
  EXPECT_EQ(copy(false, true), 0);
  EXPECT_EQ(fake::console_output(), "  0%|\b");
  EXPECT_TRUE(fake::exists(NT("dst")));
}

TEST_F(PlatformCopy, BatchDropsTheSpinnerButNotTheFigures) {
  test_settings().batch = true;
  fake::add_file(NT("src"), bytes_of(10));
  fake::set_copy_chunk(10);
  EXPECT_EQ(copy(false, true), 0);
  EXPECT_EQ(fake::console_output(), "\b\b\b100%");
}

TEST_F(PlatformCopy, FailureIsReportedWithTheSystemTextAndTheTemporaryFileGoes) {
  test_settings().safe_overwrite = true;
  test_settings().batch = true;
  fake::add_file(NT("src"), bytes_of(10));
  fake::add_file(NT("dst"), "old");
  fake::fail_call(fake::op_platform_copy, 1, EACCES);
  EXPECT_EQ(copy(false, true), 8);
  EXPECT_EQ(result.error_number, EACCES);
  std::string out = fake::console_output();
  EXPECT_EQ(out.find("\n"), 0u);
  EXPECT_NE(out.find(std::string(" : ") + std::strerror(EACCES) + "\n"), std::string::npos);
  EXPECT_EQ(fake::content(NT("dst")), "old");
  EXPECT_EQ(fake::call_count(fake::op_rename), 0);
}

TEST_F(PlatformCopy, SafeOverwriteReplacesTheDestinationFromTheTemporaryName) {
  test_settings().safe_overwrite = true;
  test_settings().quiet = true;
  fake::add_file(NT("src"), bytes_of(10));
  fake::add_file(NT("dst"), "old");
  EXPECT_EQ(copy(false, true), 0);
  EXPECT_EQ(fake::content(NT("dst")), bytes_of(10));
  EXPECT_GE(fake::call_count(fake::op_rename), 1);
  DirectoryEntry entry;
  EXPECT_EQ(search_first(NT("dst_*"), &entry), nullptr); // no temporary file left
}

TEST_F(PlatformCopy, RestartContinuesFromTheDestinationsLength) {
  test_settings().quiet = true;
  fake::add_file(NT("src"), bytes_of(20));
  fake::add_file(NT("dst"), bytes_of(8));
  EXPECT_EQ(copy(true, true), 0);
  EXPECT_EQ(fake::content(NT("dst")), bytes_of(20));
}

TEST_F(PlatformCopy, TimingReportsTheRateOnTheConsoleAndInTheLog) {
  test_settings().timing = true;
  test_settings().batch = true;
  open_log();
  fake::add_file(NT("src"), bytes_of(50));
  fake::set_wall_clock(100, 1);
  EXPECT_EQ(copy(false, true), 0);
  EXPECT_NE(fake::console_output().find(" (50 bytes/sec)"), std::string::npos);
  EXPECT_EQ(log_text(), " (50 bytes copied in 1 seconds at 50 bytes/second) ");
}

} // namespace
} // namespace zorov

#include "progress/progress.h"

#include "cli/base/options.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/row_tests.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorov {
namespace {

class ProgressTest : public testing_support::FreshRun {
protected:
  void SetUp() override {
    // A window an earlier test left open is closed, and what that wrote
    // forgotten.
    close_progress_window();
    FreshRun::SetUp();
  }
  void TearDown() override {
    close_progress_window();
    FreshRun::TearDown();
  }
};

TEST_F(ProgressTest, SpinnerCyclesThroughItsFourCharacters) {
  for (int i = 0; i < 6; ++i)
    show_spinner();
  EXPECT_EQ("|\b/\b-\b\\\b|\b/\b", fake::console_output());
}

TEST_F(ProgressTest, SpinnerContinuesWhereTheLastFileStopped) {
  for (int i = 0; i < 7; ++i)
    show_spinner();
  fake::clear_console();
  show_spinner();
  EXPECT_EQ("\\\b", fake::console_output());
}

TEST_F(ProgressTest, QuietDrawsNoSpinnerAndKeepsItsPosition) {
  test_settings().quiet = true;
  show_spinner();
  EXPECT_EQ("", fake::console_output());
  test_settings().quiet = false;
  show_spinner();
  EXPECT_EQ("|\b", fake::console_output());
}

struct WindowRow {
  const char *name;
  bool available;
  ProgressWindow window;
  std::vector<std::string> events;
} const kWindowRows[] = {
    {"opens", true, window_open, {"open Copying a", "position 2", "position 100", "close"}},
    {"refused", false, window_none, {"open Copying a"}},
};

using WindowTest = testing_support::RowTest<ProgressTest, WindowRow>;

TEST_P(WindowTest, WindowCallsReachThePlatformOnlyWhileOpen) {
  const WindowRow &row = GetParam();
  fake::set_window_available(row.available);
  ProgressWindow window = window_undecided;
  follow_in_window(&window, 2, NT("Copying a"), true);
  follow_in_window(&window, 130, NT("Copying a"), true); // an append passes 100
  EXPECT_EQ(row.window, window);
  close_progress_window();
  close_progress_window(); // the run driver's final close
  follow_in_window(&window, 5, NT("Copying a"), true);
  EXPECT_EQ(row.events, fake::window_events());
}

INSTANTIATE_TEST_SUITE_P(Progress, WindowTest, ::testing::ValuesIn(kWindowRows));

struct DecidingRow {
  const char *name;
  bool may_decide;
  int64_t first, second; // the figures shown
  ProgressWindow window;
  std::vector<std::string> events;
} const kDecidingRows[] = {
    {"2 opens", true, 2, 5, window_open, {"open Copying a", "position 2", "position 5"}},
    {"3 does not", true, 3, 1, window_none, {}},
    {"a figure that may not decide", false, 1, 1, window_undecided, {}},
};

using DecidingTest = testing_support::RowTest<ProgressTest, DecidingRow>;

TEST_P(DecidingTest, AFirstDecidingFigureOfAtMostTwoOpensTheWindow) {
  const DecidingRow &row = GetParam();
  ProgressWindow window = window_undecided;
  follow_in_window(&window, row.first, NT("Copying a"), row.may_decide);
  follow_in_window(&window, row.second, NT("Copying a"), row.may_decide);
  EXPECT_EQ(row.window, window);
  EXPECT_EQ(row.events, fake::window_events());
}

INSTANTIATE_TEST_SUITE_P(Progress, DecidingTest, ::testing::ValuesIn(kDecidingRows));

TEST_F(ProgressTest, CloseWithNoWindowDoesNothing) {
  close_progress_window();
  EXPECT_TRUE(fake::window_events().empty());
}

TEST_F(ProgressTest, EachFileGetsItsOwnWindow) {
  ProgressWindow first = window_undecided, second = window_undecided;
  follow_in_window(&first, 1, NT("Copying a"), true);
  follow_in_window(&second, 1, NT("Copying b"), true);
  close_progress_window();
  std::vector<std::string> expected = {"open Copying a", "position 1", "close",
                                       "open Copying b", "position 1", "close"};
  EXPECT_EQ(expected, fake::window_events());
}

TEST_F(ProgressTest, CaptionIsCutToAPathBuffer) {
  nstring caption(size_t(kPathMax) + 10, NT('c'));
  ProgressWindow window = window_undecided;
  follow_in_window(&window, 1, caption.c_str(), true);
  ASSERT_FALSE(fake::window_events().empty());
  EXPECT_EQ("open " + std::string(size_t(kPathMax), 'c'), fake::window_events()[0]);
}

} // namespace
} // namespace zorov

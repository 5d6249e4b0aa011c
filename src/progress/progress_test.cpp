#include "progress/progress.h"

#include "cli/options.h"
#include "support/platform_fake.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorov {
namespace {

class ProgressTest : public ::testing::Test {
protected:
  void SetUp() override {
    fake::reset();
    close_progress_window();
    fake::reset();
    reset_test_settings();
    reset_progress();
  }
  void TearDown() override {
    close_progress_window();
    reset_test_settings();
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

TEST_F(ProgressTest, WindowCallsReachThePlatformOnlyWhileOpen) {
  struct Row {
    const char *name;
    bool available;
    int opened;
    std::vector<std::string> events;
  } rows[] = {
      {"opens", true, 1, {"open Copying a", "position 2", "position 100", "close"}},
      {"refused", false, 0, {"open Copying a"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    fake::reset();
    fake::set_window_available(row.available);
    EXPECT_EQ(row.opened, open_progress_window(NT("Copying a")));
    set_progress_position(2);
    set_progress_position(130); // an append passes 100
    close_progress_window();
    close_progress_window(); // the run driver's final close
    set_progress_position(5);
    EXPECT_EQ(row.events, fake::window_events());
  }
}

TEST_F(ProgressTest, AFirstDecidingFigureOfAtMostTwoOpensTheWindow) {
  struct Row {
    const char *name;
    bool may_decide;
    int64_t first, second; // the figures shown
    ProgressWindow window;
    std::vector<std::string> events;
  } rows[] = {
      {"2 opens", true, 2, 5, window_open, {"open Copying a", "position 2", "position 5"}},
      {"3 does not", true, 3, 1, window_none, {}},
      {"a figure that may not decide", false, 1, 1, window_undecided, {}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    fake::reset();
    ProgressWindow window = window_undecided;
    follow_in_window(&window, row.first, NT("Copying a"), row.may_decide);
    follow_in_window(&window, row.second, NT("Copying a"), row.may_decide);
    EXPECT_EQ(row.window, window);
    EXPECT_EQ(row.events, fake::window_events());
    close_progress_window();
  }
}

TEST_F(ProgressTest, CloseWithNoWindowDoesNothing) {
  close_progress_window();
  EXPECT_TRUE(fake::window_events().empty());
}

TEST_F(ProgressTest, EachFileGetsItsOwnWindow) {
  open_progress_window(NT("Copying a"));
  open_progress_window(NT("Copying b"));
  close_progress_window();
  std::vector<std::string> expected = {"open Copying a", "close", "open Copying b", "close"};
  EXPECT_EQ(expected, fake::window_events());
}

TEST_F(ProgressTest, CaptionIsCutToAPathBuffer) {
  nstring caption(size_t(kPathMax) + 10, NT('c'));
  open_progress_window(caption.c_str());
  ASSERT_FALSE(fake::window_events().empty());
  EXPECT_EQ("open " + std::string(size_t(kPathMax), 'c'), fake::window_events()[0]);
}

} // namespace
} // namespace zorov

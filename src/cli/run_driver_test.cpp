#include "cli/base/error_level.h"
#include "cli/run_driver.h"

#include "support/run_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace zorov {
namespace {

using testing_support::run_program;
using testing_support::shown;

class RunDriver : public testing_support::FreshRun {};

TEST_F(RunDriver, SourcesGoToEveryTargetAfterTheKeyword) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("b"), "B");
  int code = run_program({NT("zorov"), NT("-q"), NT("a"), NT("b"), NT("-to"), NT("t1"), NT("t2")});
  EXPECT_EQ(code, 0);
  for (const nchar *name : {NT("t1/a"), NT("t2/a")})
    EXPECT_EQ(fake::content(name), "A");
  EXPECT_EQ(fake::content(NT("t2/b")), "B");
}

TEST_F(RunDriver, TwoSourcesOntoAFileEndWith9AndTouchNothing) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("b"), "B");
  fake::add_file(NT("t"), "keep");
  EXPECT_EQ(run_program({NT("zorov"), NT("a"), NT("b"), NT("t")}), level_not_directory);
  EXPECT_EQ(fake::console_error(), shown(NT("t")) + " <=== target not a directory.\n");
  EXPECT_EQ(fake::content(NT("t")), "keep");
  // A run whose targets all fail never sets up the buffer pool.
  EXPECT_EQ(fake::call_count(fake::op_allocate), 0);
}

TEST_F(RunDriver, QuietHidesNotADirectoryButLogsIt) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("b"), "B");
  fake::add_file(NT("t"), "keep");
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("-llog"), NT("a"), NT("b"), NT("t")}),
            level_not_directory);
  EXPECT_EQ(fake::console_output() + fake::console_error(), "");
  std::string log = fake::content(NT("log"));
  EXPECT_NE(log.find(shown(NT("t")) + " <=== target not a directory.\nError Level 9\n"),
            std::string::npos)
      << log;
}

// A LogFile the system stops taking lines from is told of once and written
// no more, and the copies go on; the exit code tells of the copies alone.
TEST_F(RunDriver, LogFileLostMidRunIsToldOnceAndTheCopiesGoOn) {
  for (bool quiet : {false, true}) {
    fake::reset();
    fake::add_file(NT("a"), "A");
    fake::add_file(NT("b"), "B");
    fake::add_directory(NT("t"));
    // Flushes 1 and 2 hand over the time stamp and the command line; the
    // third is the first file's line.
    fake::fail_call(fake::op_flush_text, 3, ENOSPC);
    std::vector<nstring> arguments = {NT("zorov"), NT("-llog"), NT("a"), NT("b"), NT("t")};
    if (quiet)
      arguments.insert(arguments.begin() + 1, NT("-q"));
    EXPECT_EQ(run_program(arguments), level_copied);
    EXPECT_EQ(fake::content(NT("t/a")), "A");
    EXPECT_EQ(fake::content(NT("t/b")), "B");
    EXPECT_EQ(fake::console_error(), quiet ? ""
                                           : "log: Unable to write.  " + error_text(ENOSPC) +
                                                 "\nLogging will be disabled.\n");
    std::string first = shown(NT("a")) + " ===> " + shown(NT("t/a")) + " : Ok\n";
    std::string log = fake::content(NT("log"));
    ASSERT_GE(log.size(), first.size());
    EXPECT_EQ(log.substr(log.size() - first.size()), first) << log;
  }
}

TEST_F(RunDriver, FewerThanTwoOperandsShowTheHelp) {
  fake::add_file(NT("a"), "A");
  EXPECT_EQ(run_program({NT("zorov")}), level_stopped);
  EXPECT_EQ(run_program({NT("zorov"), NT("a")}), level_stopped);
  EXPECT_EQ(run_program({NT("zorov"), NT("-b"), NT("a")}), level_stopped);
}

TEST_F(RunDriver, MustBeDirectoryTargetIsCreatedUnlessIdentifying) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("b"), "B");
  EXPECT_EQ(run_program({NT("zorov"), NT("a"), NT("b"), NT("made")}), level_copied);
  EXPECT_TRUE(fake::is_directory(NT("made")));
  EXPECT_EQ(fake::console_output().find("Directory: " + shown(NT("made")) + " has been created.\n"),
            0u);
  fake::clear_console();
  EXPECT_EQ(run_program({NT("zorov"), NT("-id"), NT("a"), NT("b"), NT("other")}), level_copied);
  EXPECT_FALSE(fake::exists(NT("other")));
}

TEST_F(RunDriver, UncreatableDirectoryReportsTheReasonEvenWhenQuiet) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("b"), "B");
  fake::add_file(NT("file"), "F");
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("a"), NT("b"), NT("file/sub")}),
            level_not_directory);
  EXPECT_EQ(fake::console_output(), "");
  std::string error = fake::console_error();
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.find("<=== target not a directory"), std::string::npos);
}

TEST_F(RunDriver, TrailingSeparatorTargetFailureEndsWith8) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("file"), "F");
  EXPECT_EQ(run_program({NT("zorov"), NT("a"), NT("file/sub/")}), level_stopped);
  EXPECT_EQ(fake::console_output(),
            shown(NT("file/sub")) + ": Unable to create destination directory.\n");
  EXPECT_FALSE(fake::console_error().empty());
}

TEST_F(RunDriver, FailedSourceIsNotForgottenByALaterGoodOne) {
  fake::add_file(NT("b"), "B");
  fake::add_directory(NT("t"));
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("missing"), NT("b"), NT("t")}), level_failed);
  EXPECT_EQ(fake::content(NT("t/b")), "B");
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("b"), NT("missing"), NT("t")}), level_failed);
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("b"), NT("b"), NT("t")}), level_copied);
}

TEST_F(RunDriver, FailedTargetIsRememberedUnlessALaterSourceFails) {
  fake::add_file(NT("a"), "A");
  fake::add_file(NT("b"), "B");
  fake::add_file(NT("file"), "F");
  EXPECT_EQ(
      run_program({NT("zorov"), NT("-q"), NT("a"), NT("b"), NT("-to"), NT("file"), NT("good")}),
      level_not_directory);
  EXPECT_EQ(fake::content(NT("good/b")), "B");
}

TEST_F(RunDriver, OverlongTargetIsAnInvalidDestination) {
  fake::add_file(NT("a"), "A");
  nstring name(size_t(kPathMax) + 1, NT('n'));
  EXPECT_EQ(run_program({NT("zorov"), NT("a"), name}), level_stopped);
  EXPECT_EQ(fake::console_output(), narrow_text(name.c_str()) + ": Invalid destination.\n");
}

// The root of the current drive ("/" resolves to it) is the root, not the
// drive's current directory, for single files and for trees alike.
TEST_F(RunDriver, RootTargetTakesTheFilesAtTheRoot) {
  fake::add_file(NT("src/a"), "A");
  fake::add_file(NT("tree/b"), "B");
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("src/a"), NT("/")}), level_copied);
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("tree"), NT("/")}), level_copied);
  EXPECT_EQ(fake::content(NT("/a")), "A");
  EXPECT_EQ(fake::content(NT("/b")), "B");
  EXPECT_FALSE(fake::exists(NT("a")) || fake::exists(NT("b")));
}

TEST_F(RunDriver, BlockSizeIsReportedOnceAndPoolAllocatedOnce) {
  fake::add_file(NT("a"), "A");
  EXPECT_EQ(run_program({NT("zorov"), NT("-k4096"), NT("a"), NT("-to"), NT("t1/"), NT("t2/")}),
            level_copied);
  std::string out = fake::console_output();
  std::string created = "Directory: " + shown(NT("t1")) + " has been created.\n";
  EXPECT_EQ(out.find(created + "BLOCKSIZE = 4096\n"), 0u) << out;
  EXPECT_EQ(out.find("BLOCKSIZE", out.find("BLOCKSIZE") + 1), std::string::npos);
  EXPECT_EQ(fake::allocated_blocks(), 0);
}

TEST_F(RunDriver, PacingAsksForTimerResolution) {
  fake::add_file(NT("a"), "A");
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("-i10/1"), NT("a"), NT("b")}), level_copied);
  std::vector<std::string> events = fake::timer_events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "begin");
  EXPECT_EQ(events[1], "end");
}

} // namespace
} // namespace zorov

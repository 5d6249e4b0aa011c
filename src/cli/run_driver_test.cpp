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

class RunDriver : public ::testing::Test {
protected:
  void SetUp() override { fake::reset(); }
};

TEST(ErrorLevel, LastResultThenFailedTargetThenWorstSource) {
  struct Row {
    int32_t last, target, worst, level;
  };
  const Row rows[] = {
      {0, 0, 0, 0}, {1, 0, 1, 1}, {0, 0, 1, 1}, {0, 9, 1, 9},
      {0, 8, 0, 8}, {1, 9, 1, 1}, {8, 9, 8, 8}, {0, 0, 8, 8},
  };
  for (const Row &row : rows)
    EXPECT_EQ(form_error_level(row.last, row.target, row.worst), row.level)
        << row.last << " " << row.target << " " << row.worst;
}

TEST(OperandSplit, KeywordNeedsASourceBeforeAndATargetAfter) {
  struct Row {
    std::vector<const nchar *> arguments;
    int first_operand;
    int keyword;
  };
  const Row rows[] = {
      {{NT("z"), NT("a"), NT("-to"), NT("t")}, 1, 2},
      {{NT("z"), NT("a"), NT("b"), NT("-TO"), NT("t1"), NT("t2")}, 1, 3},
      {{NT("z"), NT("a"), NT("b"), NT("-to")}, 1, 0},
      {{NT("z"), NT("-to"), NT("a"), NT("t")}, 1, 0},
      {{NT("z"), NT("a"), NT("-To"), NT("t"), NT("-to")}, 1, 2},
      {{NT("z"), NT("-q"), NT("a"), NT("-to"), NT("t")}, 2, 3},
      {{NT("z"), NT("a"), NT("-tox"), NT("t")}, 1, 0},
  };
  for (const Row &row : rows) {
    std::vector<nchar *> argv;
    for (const nchar *argument : row.arguments)
      argv.push_back(const_cast<nchar *>(argument));
    EXPECT_EQ(find_target_keyword(int(argv.size()), argv.data(), row.first_operand), row.keyword);
  }
}

// A target line longer than a name is refused whole: no piece of it is a
// target.
TEST_F(RunDriver, TargetResponseFileLinesAndOverlongLines) {
  nstring long_line(size_t(kPathMax) + 5, NT('x'));
  std::string content = "t1\r\n\nt2\n" + narrow_text(long_line.c_str()) + "\nt3";
  fake::add_file(NT("list"), content);
  nchar list_arg[] = NT("@list");
  nchar missing_arg[] = NT("@none");
  nchar *argv[] = {list_arg, missing_arg};
  testing_support::reset_run_state();
  RunState run;
  nstring name;
  std::vector<nstring> seen;
  while (next_target(&run, &name, 2, argv))
    seen.push_back(name);
  EXPECT_EQ(seen, (std::vector<nstring>{NT("t1"), NT(""), NT("t2"), NT("t3"), NT("@none")}));
  EXPECT_EQ(fake::console_output(),
            "list: A line of this response file is too long to be a name; passed over.\n");
  EXPECT_EQ(run.target_error, level_stopped);
  EXPECT_EQ(run.target_list_file, nullptr);
  EXPECT_EQ(fake::open_text_count(), 0);
}

// A line that exactly fills the buffer is one target, never followed by an
// empty one (the current directory); a line with a NUL byte is refused.
TEST_F(RunDriver, TargetLinesThatFillTheBufferOrHoldANul) {
  nstring full_line(size_t(kPathMax), NT('f'));
  std::string content = narrow_text(full_line.c_str()) + "\r\n" + narrow_text(full_line.c_str()) +
                        "\n" + std::string("bad\0name\n\nt\n", 12);
  fake::add_file(NT("list"), content);
  nchar list_arg[] = NT("@list");
  nchar *argv[] = {list_arg};
  testing_support::reset_run_state();
  RunState run;
  nstring name;
  std::vector<nstring> seen;
  while (next_target(&run, &name, 1, argv))
    seen.push_back(name);
  EXPECT_EQ(seen, (std::vector<nstring>{full_line, full_line, NT(""), NT("t")}));
  EXPECT_EQ(fake::console_output(),
            "list: A line of this response file holds a NUL byte; passed over.\n");
  EXPECT_EQ(run.target_error, level_stopped);
}

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

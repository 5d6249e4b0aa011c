#include "decide/file_job.h"

#include "platform/path_syntax.h"
#include "support/row_tests.h"
#include "support/run_test_support.h"
#include "support/test_settings.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

namespace zorov {
namespace {

using testing_support::full_name;
using testing_support::shown;

class FileJob : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    testing_support::start_job_run(&run);
    fake::add_file(NT("src/a.txt"), "alpha", 1000);
    fake::add_directory(NT("dst"));
  }
  void TearDown() override {
    FreshRun::TearDown();
    free_buffer_pool(&run.pool);
  }
  void open_logs() {
    open_log_file(NT("log"), 0);
    open_copied_list(NT("log.fil"));
  }
  int job(const nchar *destination, const nchar *source = NT("src/a.txt"),
          bool from_directory = true) {
    return copy_one_file(run.job, full_name(destination), full_name(source), from_directory);
  }
  std::string pair(const nchar *destination, const nchar *source = NT("src/a.txt")) {
    return shown(source) + " ===> " + shown(destination);
  }
  std::string log() {
    flush_text(log_file);
    return fake::content(NT("log"));
  }
  testing_support::JobRun run;
};

TEST_F(FileJob, CopiesReportsAndListsTheSource) {
  test_settings().batch = true;
  open_logs();
  EXPECT_EQ(job(NT("dst/a.txt")), 0);
  EXPECT_EQ(fake::content(NT("dst/a.txt")), "alpha");
  EXPECT_EQ(fake::console_output(), pair(NT("dst/a.txt")) + " : Ok\n");
  EXPECT_EQ(log(), pair(NT("dst/a.txt")) + " : Ok\n");
  flush_text(copied_list);
  EXPECT_EQ(fake::content(NT("log.fil")), shown(NT("src/a.txt")) + "\n");
  EXPECT_EQ(fake::status_of(NT("dst/a.txt")).modification_time.seconds, 1000);
}

TEST_F(FileJob, MissingSourceIsStatusOne) {
  test_settings().batch = true;
  EXPECT_EQ(job(NT("dst/gone"), NT("src/gone")), 1);
  EXPECT_EQ(fake::console_output(), pair(NT("dst/gone"), NT("src/gone")) +
                                        " : Unable to open input.  " + std::strerror(ENOENT) +
                                        "\n");
  EXPECT_FALSE(fake::exists(NT("dst/gone")));
}

TEST_F(FileJob, DirectorySourceIsPassedOverSilently) {
  EXPECT_EQ(job(NT("dst/x"), NT("dst")), 0);
  EXPECT_EQ(fake::console_output() + fake::console_error(), "");
}

TEST_F(FileJob, ExistingOnlyLogsMissingDestinationsBeforeExclusions) {
  test_settings().existing_only = 1;
  test_settings().quiet = true;
  open_logs();
  // The existing-only rule comes first, so even an excluded source is logged.
  nchar pattern[] = NT("*.TXT");
  ExclusionNode node = {nullptr, pattern};
  test_settings().exclusions = &node;
  EXPECT_EQ(job(NT("dst/a.txt")), 0);
  EXPECT_FALSE(fake::exists(NT("dst/a.txt")));
  EXPECT_EQ(log(), pair(NT("dst/a.txt")) + " : Destination file does not exist.\n");
  test_settings().exclusions = nullptr;
  // A destination named by the target itself is copied even when missing.
  EXPECT_EQ(job(NT("dst/named"), NT("src/a.txt"), false), 0);
  EXPECT_EQ(fake::content(NT("dst/named")), "alpha");
  // -l- keeps the explanation out of the log.
  test_settings().log_up_to_date = false;
  fake::add_file(NT("log"), "");
  EXPECT_EQ(job(NT("dst/other")), 0);
  EXPECT_EQ(log(), "");
}

TEST_F(FileJob, IdentifyOnlyListsCountsAndCopiesNothing) {
  open_logs();
  test_settings().identify_only = true;
  EXPECT_EQ(job(NT("dst/a.txt")), 0);
  EXPECT_EQ(fake::console_output(), "           5\t" + shown(NT("src/a.txt")) + "\n");
  EXPECT_EQ(run.counters.identified_files, 1);
  EXPECT_EQ(run.counters.identified_bytes, 5);
  EXPECT_FALSE(fake::exists(NT("dst/a.txt")));
  EXPECT_EQ(log(), pair(NT("dst/a.txt")) + "\n");
  flush_text(copied_list);
  EXPECT_EQ(fake::content(NT("log.fil")), "");
  test_settings().quiet = true;
  EXPECT_EQ(job(NT("dst/a.txt")), 0);
  EXPECT_EQ(fake::console_output(), "           5\t" + shown(NT("src/a.txt")) + "\n");
  EXPECT_EQ(run.counters.identified_files, 2);
  EXPECT_EQ(run.counters.identified_bytes, 10);
}

TEST_F(FileJob, MoveDeletesOnlyWhileServingTheLastTarget) {
  test_settings().move = true;
  test_settings().quiet = true;
  open_logs();
  run.job.last_target = false;
  EXPECT_EQ(job(NT("dst/one")), 0);
  EXPECT_TRUE(fake::exists(NT("src/a.txt")));
  run.job.last_target = true;
  EXPECT_EQ(job(NT("dst/two")), 0);
  EXPECT_FALSE(fake::exists(NT("src/a.txt")));
  EXPECT_NE(log().find(shown(NT("src/a.txt")) + " deleted.\n"), std::string::npos);
}

const bool case_matters = !names_ignore_case(native_path_style);

struct MoveOntoItselfRow {
  const char *name;
  const nchar *destination;
  const nchar *source; // as the tree copy hands it over: not made absolute
  int generations;     // 0: no archive
} const kMoveOntoItselfRows[] = {
    {"same name", NT("src/a.txt"), NT("src/a.txt"), 0},
    {"same name, archived", NT("src/a.txt"), NT("src/a.txt"), 5},
    {"two generations", NT("src/a.txt"), NT("src/a.txt"), 2},
    {"one generation", NT("src/a.txt"), NT("src/a.txt"), 1},
    {"relative source", NT("src/a.txt"), NT("./src/../src/a.txt"), 5},
    {"link to the source", NT("src/link"), NT("src/a.txt"), 3},
    {"spelling by case", case_matters ? NT("src/A.TXT") : NT("src/a.txt"), NT("src/a.txt"), 5},
};

using MoveOntoItselfTest = testing_support::RowTest<FileJob, MoveOntoItselfRow>;

TEST_P(MoveOntoItselfTest, AMoveOntoItselfKeepsTheFile) {
  const MoveOntoItselfRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().move = true;
  test_settings().batch = true;
  test_settings().archive = row.generations != 0;
  test_settings().generations = row.generations;
  run.job.last_target = true;
  fake::add_link(NT("src/link"), NT("src/a.txt"));
  if (case_matters)
    fake::add_case_spelling(NT("src/A.TXT"), NT("src/a.txt"));
  EXPECT_EQ(copy_one_file(run.job, full_name(row.destination), row.source, true), 1);
  EXPECT_EQ(fake::content(NT("src/a.txt")), "alpha");
  for (const nchar *made : {NT("src/a.(-01).txt"), NT("src/a.(-00).txt"), NT("src/a.txt.(-01)"),
                            NT("src/link.(-01)"), NT("src/link.(-02)")})
    EXPECT_FALSE(fake::exists(made)) << narrow_text(made);
  EXPECT_NE(fake::console_output().find(" : Source, Destination are same file.\n"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(FileJob, MoveOntoItselfTest, ::testing::ValuesIn(kMoveOntoItselfRows));

struct AMoveDeletesOnlyWhatItCopiedRow {
  const char *name;
  fake::Operation call; // someone else writes just before this call
  int nth;
  const char *content; // what the source then holds
  int64_t time;        // and its modification time
} const kAMoveDeletesOnlyWhatItCopiedRows[] = {
    {"appended to after the copy read its end", fake::op_close, 1, "alpha and more", 1000},
    {"appended to before the copy read its end", fake::op_read, 1, "alpha and more", 1000},
    {"rewritten with the same size", fake::op_close, 1, "ALPHA", 1001},
    {"cut short", fake::op_read, 1, "alp", 1000},
};

using AMoveDeletesOnlyWhatItCopiedTest =
    testing_support::RowTest<FileJob, AMoveDeletesOnlyWhatItCopiedRow>;

TEST_P(AMoveDeletesOnlyWhatItCopiedTest, AMoveDeletesOnlyWhatItCopied) {
  const AMoveDeletesOnlyWhatItCopiedRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().move = true;
  test_settings().batch = true;
  open_logs();
  run.job.last_target = true;
  fake::before_call(row.call, row.nth,
                    [&row] { fake::add_file(NT("src/a.txt"), row.content, row.time); });
  EXPECT_EQ(job(NT("dst/a.txt")), 1);
  EXPECT_EQ(fake::content(NT("src/a.txt")), row.content);
  std::string line = pair(NT("dst/a.txt"));
  EXPECT_EQ(fake::console_output(),
            line + line + " : Source changed during the copy.  It is not deleted.\n");
  EXPECT_EQ(log(), line + line + " : Source changed during the copy.  It is not deleted.\n");
  flush_text(copied_list);
  EXPECT_EQ(fake::content(NT("log.fil")), "");
}

INSTANTIATE_TEST_SUITE_P(FileJob, AMoveDeletesOnlyWhatItCopiedTest,
                         ::testing::ValuesIn(kAMoveDeletesOnlyWhatItCopiedRows));

const bool streams = names_have_streams(native_path_style);

struct AMoveDeletesOnlyWhatAFileNowHoldsRow {
  const char *name;
  const nchar *destination;
  int kind; // 0 missing, 1 a device, 2 a pipe no one reads
  bool archive;
  const char *text; // the end of the report; empty when moved
} const kAMoveDeletesOnlyWhatAFileNowHoldsRows[] = {
    {"onto a device", NT("dst/null"), 1, false,
     " : Destination is a device or pipe.  The source is not deleted.\n"},
    {"onto a device, archived", NT("dst/null"), 1, true,
     " : Failed.  Can not archive a device or pipe.\n"},
    {"onto a pipe", NT("dst/pipe"), 2, false, " : Unable to open output.  "},
    {"into its own stream", NT("src/a.txt:meta"), 0, false,
     streams ? " : Source, Destination are same file.\n" : ""},
    {"into its own stream, archived", NT("src/a.txt:meta"), 0, true,
     streams ? " : Source, Destination are same file.\n" : ""},
};

using AMoveDeletesOnlyWhatAFileNowHoldsTest =
    testing_support::RowTest<FileJob, AMoveDeletesOnlyWhatAFileNowHoldsRow>;

TEST_P(AMoveDeletesOnlyWhatAFileNowHoldsTest, AMoveDeletesOnlyWhatAFileNowHolds) {
  const AMoveDeletesOnlyWhatAFileNowHoldsRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().move = true;
  test_settings().batch = true;
  test_settings().archive = row.archive;
  test_settings().generations = row.archive ? 5 : 0;
  run.job.last_target = true;
  if (row.kind != 0)
    fake::add_special(row.destination, row.kind == 2);
  bool moved = *row.text == '\0';
  size_t names = fake::names().size();
  EXPECT_EQ(job(row.destination), moved ? 0 : 1);
  EXPECT_EQ(fake::exists(NT("src/a.txt")), !moved);
  if (!moved) {
    EXPECT_EQ(fake::content(NT("src/a.txt")), "alpha");
    EXPECT_NE(fake::console_output().find(row.text), std::string::npos) << fake::console_output();
  }
  EXPECT_EQ(fake::names().size(), names) << "no generation, nothing beside";
}

INSTANTIATE_TEST_SUITE_P(FileJob, AMoveDeletesOnlyWhatAFileNowHoldsTest,
                         ::testing::ValuesIn(kAMoveDeletesOnlyWhatAFileNowHoldsRows));

TEST_F(FileJob, FailedDeleteIsReportedButTheJobSucceeds) {
  test_settings().move = true;
  test_settings().batch = true;
  open_logs();
  run.job.last_target = true;
  fake::fail_call(fake::op_remove, 1, EACCES);
  EXPECT_EQ(job(NT("dst/a.txt")), 0);
  EXPECT_EQ(fake::console_error(),
            "Unable to delete " + shown(NT("src/a.txt")) + "\n" + std::strerror(EACCES) + "\n");
  EXPECT_NE(log().find("Unable to delete " + shown(NT("src/a.txt")) + "\n"), std::string::npos);
}

TEST_F(FileJob, FailedCopyIsNeitherListedNorMoved) {
  test_settings().move = true;
  test_settings().quiet = true;
  open_logs();
  run.job.last_target = true;
  fake::fail_call(fake::op_read, 1, EIO);
  EXPECT_EQ(job(NT("dst/a.txt")), 1);
  EXPECT_TRUE(fake::exists(NT("src/a.txt")));
  flush_text(copied_list);
  EXPECT_EQ(fake::content(NT("log.fil")), "");
  EXPECT_NE(log().find(" : Read error.  "), std::string::npos);
}

TEST_F(FileJob, ExcludedSourceIsSkippedWithoutAWord) {
  nchar pattern[] = NT("*.TXT");
  ExclusionNode node = {nullptr, pattern};
  test_settings().exclusions = &node;
  open_logs();
  EXPECT_EQ(job(NT("dst/a.txt")), 0);
  EXPECT_FALSE(fake::exists(NT("dst/a.txt")));
  EXPECT_EQ(fake::console_output() + log(), "");
  test_settings().exclusions = nullptr;
}

TEST_F(FileJob, ArchiveOntoAStreamIsStatusSeven) {
  if (!names_have_streams(native_path_style))
    return; // POSIX names have no streams
  test_settings().archive = true;
  test_settings().batch = true;
  fake::add_file(NT("dst/a.txt"), "old");
  EXPECT_EQ(job(NT("dst/a.txt:meta")), 1);
  EXPECT_NE(fake::console_output().find(" : Failed.  Can not archive to a stream.\n\n"),
            std::string::npos);
  EXPECT_EQ(fake::content(NT("dst/a.txt")), "old");
}

} // namespace
} // namespace zorov

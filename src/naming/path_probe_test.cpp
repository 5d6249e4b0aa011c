#include "naming/path_probe.h"

#include "platform/path_syntax.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/row_tests.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace zorov {
namespace {

class PathProbe : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    fake::add_directory(NT("dir/sub"));
    fake::add_file(NT("dir/file.txt"), "x");
    fake::add_file(NT("ab"), "y");
  }
};

TEST_F(PathProbe, Classifies) {
  struct Row {
    const nchar *path;
    int kind;
  };
  const bool streams = names_have_streams(native_path_style);
  const Row rows[] = {
      {NT("dir"), 1},
      {NT("dir/"), 1},
      {NT("dir/sub/"), 1},
      {NT("dir/file.txt"), -1},
      {NT("dir/file.txt/"), -1},
      {NT("ab/"), -1},
      {NT("missing"), 0},
      {NT("dir/*.txt"), 0},
      {NT("dir/fil?.txt"), 0},
      {NT("/"), 1},
      // A stream suffix is probed as its file on Windows; on POSIX the colon
      // is part of an ordinary (missing) name.
      {NT("dir/file.txt:meta"), streams ? -1 : 0},
  };
  for (const Row &row : rows)
    EXPECT_EQ(probe_path(row.path), row.kind) << narrow_text(row.path);
}

TEST_F(PathProbe, CreatesMissingParentsTopFirst) {
  nstring path = NT("dir/a/b/c/");
  EXPECT_EQ(make_directory_path(&path), 0);
  EXPECT_EQ(path, NT("dir/a/b/c"));
  EXPECT_TRUE(fake::is_directory(NT("dir/a")));
  EXPECT_TRUE(fake::is_directory(NT("dir/a/b/c")));
  EXPECT_EQ(fake::call_count(fake::op_make_directory), 3);
}

TEST_F(PathProbe, RefusesNamesBelowAFile) {
  nstring below = NT("dir/file.txt/new/deeper");
  EXPECT_NE(make_directory_path(&below), 0);
  EXPECT_FALSE(fake::exists(NT("dir/file.txt/new")));
}

// Another run may make a level between the look and the creation: a
// directory made so is there as wanted (1 when it was the final level), a
// file made so is a failure.
struct TakesADirectoryMadeMeanwhileRow {
  const char *what;
  int nth; // the creation the other run comes before
  bool file;
  int result;
  int error_number;
} const kTakesADirectoryMadeMeanwhileRows[] = {
    {"already there", 0, false, 1, 0},
    {"the final level made meanwhile", 1, false, 1, 0},
    {"a file made meanwhile", 1, true, -1, EEXIST},
};

using TakesADirectoryMadeMeanwhileTest =
    testing_support::RowTest<PathProbe, TakesADirectoryMadeMeanwhileRow>;

TEST_P(TakesADirectoryMadeMeanwhileTest, TakesADirectoryMadeMeanwhile) {
  const TakesADirectoryMadeMeanwhileRow &row = GetParam();
  nstring path = NT("dir/new/");
  const nstring made = NT("dir/new");
  if (row.nth == 0)
    fake::add_directory(made);
  else
    fake::before_call(fake::op_make_directory, row.nth, [&row, &made] {
      if (row.file)
        fake::add_file(made, "taken");
      else
        fake::add_directory(made);
    });
  errno = 0;
  EXPECT_EQ(make_directory_path(&path), row.result) << row.what;
  EXPECT_EQ(row.result < 0 ? errno : 0, row.error_number) << row.what;
  EXPECT_EQ(fake::is_directory(path), row.result >= 0) << row.what;
}

INSTANTIATE_TEST_SUITE_P(PathProbe, TakesADirectoryMadeMeanwhileTest,
                         ::testing::ValuesIn(kTakesADirectoryMadeMeanwhileRows));

TEST_F(PathProbe, OverlongNameIsRefusedNotCut) {
  nstring path = NT("dir/") + nstring(size_t(kPathMax), NT('n'));
  EXPECT_NE(make_directory_path(&path), 0);
  EXPECT_EQ(fake::call_count(fake::op_make_directory), 0);
}

} // namespace
} // namespace zorov

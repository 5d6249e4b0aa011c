#include "naming/path_probe.h"

#include "platform/path_syntax.h"
#include "support/platform_fake.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace zorov {
namespace {

class PathProbe : public ::testing::Test {
protected:
  void SetUp() override {
    fake::reset();
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

TEST_F(PathProbe, RefusesExistingDirectoryAndNamesBelowAFile) {
  nstring existing = NT("dir/sub");
  errno = 0;
  EXPECT_NE(make_directory_path(&existing), 0);
  EXPECT_EQ(errno, EEXIST);
  nstring below = NT("dir/file.txt/new/deeper");
  EXPECT_NE(make_directory_path(&below), 0);
  EXPECT_FALSE(fake::exists(NT("dir/file.txt/new")));
}

TEST_F(PathProbe, OverlongNameIsRefusedNotCut) {
  nstring path = NT("dir/") + nstring(size_t(kPathMax), NT('n'));
  EXPECT_NE(make_directory_path(&path), 0);
  EXPECT_EQ(fake::call_count(fake::op_make_directory), 0);
}

} // namespace
} // namespace zorov

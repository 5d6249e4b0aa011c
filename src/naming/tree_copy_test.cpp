#include "naming/tree_copy.h"

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

// src/.hid/ is a hidden directory holding v.txt and the hidden .h.txt.
class TreeCopy : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    testing_support::start_job_run(&run);
    test_settings().batch = true;
    fake::add_file(NT("src/a.txt"), "A");
    fake::add_file(NT("src/h.txt"), "H");
    fake::set_attributes(NT("src/h.txt"), attribute_hidden);
    fake::add_file(NT("src/.hid/v.txt"), "V");
    fake::add_file(NT("src/.hid/.h.txt"), "I");
    fake::set_attributes(NT("src/.hid"), attribute_hidden);
    fake::set_attributes(NT("src/.hid/.h.txt"), attribute_hidden);
    fake::add_directory(NT("src/empty"));
    fake::add_file(NT("src/sub/b.txt"), "B");
    fake::add_file(NT("src/sub/deep/c.txt"), "C");
    fake::add_directory(NT("dst"));
  }
  void TearDown() override {
    close_logs();
    free_buffer_pool(&run.pool);
    EXPECT_EQ(fake::open_search_count(), 0);
  }
  int tree(const nchar *source = NT("src"), const nchar *destination = NT("dst")) {
    return copy_tree(run.job, source, full_name(destination));
  }
  testing_support::JobRun run;
};

// The destination name the tree copy forms: the absolute target joined with
// "/" and the entry names.
std::string destination(const nchar *below) {
  return narrow_text(join_path(full_name(NT("dst")), nstring(below), native_path_style).c_str());
}

std::string ok_line(const char *source, const nchar *below) {
  return std::string(source) + " ===> " + destination(below) + " : Ok\n";
}

std::string created(const nchar *below) {
  return "Directory: " + destination(below) + " has been created.\n";
}

TEST_F(TreeCopy, OneLevelCopiesVisibleFilesOnly) {
  struct Row {
    bool copy_hidden;
    std::string output;
  };
  const Row rows[] = {
      {false, ok_line("src/a.txt", NT("a.txt"))},
      {true, ok_line("src/a.txt", NT("a.txt")) + ok_line("src/h.txt", NT("h.txt"))},
  };
  for (const Row &row : rows) {
    fake::clear_console();
    test_settings().copy_hidden = row.copy_hidden;
    EXPECT_EQ(tree(), 0);
    EXPECT_EQ(fake::console_output(), row.output);
    EXPECT_EQ(fake::content(NT("dst/a.txt")), "A");
    EXPECT_EQ(fake::exists(NT("dst/h.txt")), row.copy_hidden);
    for (const nchar *below : {NT("dst/sub"), NT("dst/empty"), NT("dst/.hid")})
      EXPECT_FALSE(fake::exists(below)) << narrow_text(below);
  }
}

TEST_F(TreeCopy, RecursionCreatesEveryDirectoryAndWalksHiddenOnes) {
  test_settings().recurse = true;
  EXPECT_EQ(tree(), 0);
  EXPECT_EQ(fake::console_output(),
            created(NT(".hid")) + ok_line("src/.hid/v.txt", NT(".hid/v.txt")) +
                ok_line("src/a.txt", NT("a.txt")) + created(NT("empty")) + created(NT("sub")) +
                ok_line("src/sub/b.txt", NT("sub/b.txt")) + created(NT("sub/deep")) +
                ok_line("src/sub/deep/c.txt", NT("sub/deep/c.txt")));
  EXPECT_TRUE(fake::is_directory(NT("dst/empty")));
  EXPECT_EQ(fake::content(NT("dst/sub/deep/c.txt")), "C");
  EXPECT_FALSE(fake::exists(NT("dst/.hid/.h.txt")));
  EXPECT_FALSE(fake::exists(NT("dst/h.txt")));
  // A second walk finds every directory in place and creates none.
  fake::clear_console();
  int made = fake::call_count(fake::op_make_directory);
  EXPECT_EQ(tree(), 0);
  EXPECT_EQ(fake::call_count(fake::op_make_directory), made);
}

TEST_F(TreeCopy, SubdirectoryNameTakenByAFileIsReportedAndTheRestCopied) {
  test_settings().recurse = true;
  fake::add_file(NT("dst/empty"), "in the way");
  // A file failing later on does not lower the level's result.
  fake::add_file(NT("dst/sub/b.txt"), "old", 0, true);
  open_log_file(NT("log"), 0);
  EXPECT_EQ(tree(), 8);
  std::string failure = destination(NT("empty")) + ": Unable to create destination directory.\n";
  EXPECT_NE(fake::console_output().find(failure), std::string::npos);
  EXPECT_EQ(fake::console_error().find(std::string(std::strerror(EEXIST)) + "\n"), 0u);
  EXPECT_NE(fake::content(NT("log")).find(failure), std::string::npos);
  EXPECT_EQ(fake::content(NT("dst/empty")), "in the way");
  EXPECT_EQ(fake::content(NT("dst/sub/deep/c.txt")), "C");
  // Quiet keeps the console clean; the LogFile still has the line.
  fake::clear_console();
  test_settings().quiet = true;
  EXPECT_EQ(tree(), 8);
  std::string console = fake::console_output() + fake::console_error();
  EXPECT_EQ(console.find("Unable to create"), std::string::npos) << console;
  EXPECT_EQ(console.find(std::strerror(EEXIST)), std::string::npos) << console;
  std::string log = fake::content(NT("log"));
  EXPECT_NE(log.find(failure), log.rfind(failure));
}

// Two runs copying into one new target: the other run makes a directory
// between this one's look and its creation. The walk goes on into it, and
// does not claim to have made it.
TEST_F(TreeCopy, DirectoryMadeMeanwhileByAnotherRunIsWalked) {
  test_settings().recurse = true;
  fake::add_directory(NT("dst/.hid"));
  fake::add_directory(NT("dst/empty"));
  fake::before_call(fake::op_make_directory, 1, [] { fake::add_directory(NT("dst/sub")); });
  EXPECT_EQ(tree(), 0);
  EXPECT_EQ(fake::console_output(),
            ok_line("src/.hid/v.txt", NT(".hid/v.txt")) + ok_line("src/a.txt", NT("a.txt")) +
                ok_line("src/sub/b.txt", NT("sub/b.txt")) + created(NT("sub/deep")) +
                ok_line("src/sub/deep/c.txt", NT("sub/deep/c.txt")));
  EXPECT_EQ(fake::content(NT("dst/sub/deep/c.txt")), "C");
}

TEST_F(TreeCopy, VerboseRecursionEchoesEveryLevel) {
  test_settings().recurse = true;
  test_settings().verbose_recursion = true;
  const std::string blanks(79, ' ');
  EXPECT_EQ(tree(NT("src/sub")), 0);
  EXPECT_EQ(fake::console_output(), "\r" + blanks + "\rsrc/sub\r" +
                                        ok_line("src/sub/b.txt", NT("b.txt")) +
                                        created(NT("deep")) + "\r" + blanks + "\rsrc/sub/deep\r" +
                                        ok_line("src/sub/deep/c.txt", NT("deep/c.txt")));
  fake::clear_console();
  test_settings().quiet = true;
  EXPECT_EQ(tree(NT("src/sub")), 0);
  EXPECT_EQ(fake::console_output(), "");
}

TEST_F(TreeCopy, IdentifyOnlyListsTheTreeAndCreatesNothing) {
  test_settings().recurse = true;
  test_settings().identify_only = true;
  int made = fake::call_count(fake::op_make_directory);
  EXPECT_EQ(tree(NT("src"), NT("new")), 0);
  EXPECT_EQ(fake::call_count(fake::op_make_directory), made);
  EXPECT_FALSE(fake::exists(NT("new")));
  EXPECT_EQ(fake::console_output(), "           1\tsrc/.hid/v.txt\n"
                                    "           1\tsrc/a.txt\n"
                                    "           1\tsrc/sub/b.txt\n"
                                    "           1\tsrc/sub/deep/c.txt\n");
  EXPECT_EQ(run.counters.identified_files, 4);
}

TEST_F(TreeCopy, FailedFileMakesTheLevelOneWhileLaterFilesAreCopied) {
  fake::add_file(NT("src/z.txt"), "Z");
  fake::add_file(NT("dst/a.txt"), "old", 0, true);
  test_settings().quiet = true;
  EXPECT_EQ(tree(), 1);
  EXPECT_EQ(fake::content(NT("dst/a.txt")), "old");
  EXPECT_EQ(fake::content(NT("dst/z.txt")), "Z");
  // Deeper down the failure still shows at the top.
  test_settings().recurse = true;
  fake::add_file(NT("dst/a.txt"), "old", 0, false);
  fake::add_file(NT("dst/sub/deep/c.txt"), "old", 0, true);
  EXPECT_EQ(tree(), 1);
  EXPECT_EQ(fake::content(NT("dst/a.txt")), "A");
}

TEST_F(TreeCopy, UnreadableSourceDirectoryCopiesNothing) {
  test_settings().recurse = true;
  EXPECT_EQ(tree(NT("gone")), 0);
  EXPECT_EQ(fake::console_output() + fake::console_error(), "");
}

// A directory whose listing can't be started or read on is a failure of its
// level, reported with the system's reason; the rest of the tree goes on.
struct LockedDirectoryIsAFailureWithItsReasonRow {
  bool recurse;
  fake::Operation operation;
  int nth;
  const nchar *directory; // the one reported
} const kLockedDirectoryIsAFailureWithItsReasonRows[] = {
    {false, fake::op_search, 1, NT("src")},
    {true, fake::op_search, 1, NT("src")},
    {true, fake::op_search_next, 1, NT("src")},
};

using LockedDirectoryIsAFailureWithItsReasonTest =
    testing_support::RowTest<TreeCopy, LockedDirectoryIsAFailureWithItsReasonRow>;

TEST_P(LockedDirectoryIsAFailureWithItsReasonTest, LockedDirectoryIsAFailureWithItsReason) {
  const LockedDirectoryIsAFailureWithItsReasonRow &row = GetParam();
  open_log_file(NT("run.log"), 0);
  test_settings().recurse = row.recurse;
  fake::fail_call(row.operation, row.nth, EACCES);
  EXPECT_EQ(tree(), 1);
  std::string message = testing_support::shown(row.directory) + ": Unable to read directory.  " +
                        error_text(EACCES) + "\n";
  EXPECT_NE(fake::console_output().find(message), std::string::npos) << fake::console_output();
  EXPECT_NE(fake::content(NT("run.log")).find(message), std::string::npos);
  EXPECT_EQ(fake::console_error(), "");
  close_logs();
}

INSTANTIATE_TEST_SUITE_P(TreeCopy, LockedDirectoryIsAFailureWithItsReasonTest,
                         ::testing::ValuesIn(kLockedDirectoryIsAFailureWithItsReasonRows));

TEST_F(TreeCopy, EmptySourceNameIsTheCurrentDirectoryNotTheRoot) {
  fake::add_file(NT("here.txt"), "h");
  test_settings().quiet = true;
  EXPECT_EQ(copy_tree(run.job, NT(""), full_name(NT("dst"))), 0);
  EXPECT_EQ(fake::content(NT("dst/here.txt")), "h");
}

TEST_F(TreeCopy, MissingTopDestinationComesWithTheFirstSubdirectory) {
  test_settings().recurse = true;
  test_settings().quiet = true;
  fake::add_file(NT("late/a.txt"), "A");
  fake::add_directory(NT("late/m"));
  fake::add_file(NT("late/z.txt"), "Z");
  // a.txt comes before the first subdirectory, so it has nowhere to go.
  EXPECT_EQ(tree(NT("late"), NT("out")), 1);
  EXPECT_FALSE(fake::exists(NT("out/a.txt")));
  EXPECT_TRUE(fake::is_directory(NT("out/m")));
  EXPECT_EQ(fake::content(NT("out/z.txt")), "Z");
}

TEST_F(TreeCopy, CurrentDirectoryIntoItsOwnSubdirectory) {
  // zorov -s . sub/
  fake::set_current_directory(NT("top"));
  fake::add_file(NT("f"), "F");
  fake::add_directory(NT("sub"));
  fake::add_file(NT("other/g"), "G");
  test_settings().recurse = true;
  EXPECT_EQ(copy_tree(run.job, NT("."), full_name(NT("sub"))), 1);
  std::string output = fake::console_output();
  EXPECT_NE(output.find("./sub: Directory is a destination of this copy; passed over.\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(fake::content(NT("sub/f")), "F");
  EXPECT_EQ(fake::content(NT("sub/other/g")), "G");
  EXPECT_FALSE(fake::exists(NT("sub/sub")));
}

TEST_F(TreeCopy, DestinationMadeInsideTheSourceDuringTheWalk) {
  // zorov -s dir dir/a/b: the destination only comes into being while the
  // walk is under way, and is met again one level down.
  fake::add_file(NT("dir/f"), "F");
  fake::add_file(NT("dir/a/g"), "G");
  test_settings().recurse = true;
  test_settings().quiet = true;
  open_log_file(NT("log"), 0);
  EXPECT_EQ(tree(NT("dir"), NT("dir/a/b")), 1);
  EXPECT_NE(fake::content(NT("log")).find(
                "dir/a/b: Directory is a destination of this copy; passed over.\n"),
            std::string::npos);
  EXPECT_EQ(fake::content(NT("dir/a/b/a/g")), "G");
  EXPECT_FALSE(fake::exists(NT("dir/a/b/a/b")));
  // Another run meets it again and still copies the rest.
  EXPECT_EQ(tree(NT("dir"), NT("dir/a/b")), 1);
  EXPECT_EQ(fake::content(NT("dir/a/b/f")), "F");
  EXPECT_FALSE(fake::exists(NT("dir/a/b/a/b")));
}

TEST_F(TreeCopy, LinksBackUpTheTreeAreNotFollowed) {
  test_settings().recurse = true;
  fake::add_link(NT("src/sub/deep/up"), NT("src/sub"));
  fake::add_link(NT("src/sub/out"), NT("dst"));
  EXPECT_EQ(tree(), 1);
  std::string output = fake::console_output();
  EXPECT_NE(
      output.find("src/sub/deep/up: Directory leads back to one of its parents; passed over.\n"),
      std::string::npos)
      << output;
  EXPECT_NE(output.find("src/sub/out: Directory is a destination of this copy; passed over.\n"),
            std::string::npos)
      << output;
  EXPECT_FALSE(fake::exists(NT("dst/sub/deep/up")));
  EXPECT_FALSE(fake::exists(NT("dst/sub/out")));
  EXPECT_EQ(fake::content(NT("dst/sub/deep/c.txt")), "C");
  // A source copied onto itself walks each directory once.
  fake::clear_console();
  fake::add_directory(NT("same/inner"));
  EXPECT_EQ(tree(NT("same"), NT("same")), 0);
  EXPECT_EQ(fake::console_output(), "");
}

TEST_F(TreeCopy, OverlongNamesAreRefusedNeverCut) {
  fake::add_file(NT("s/ab.txt"), "1");
  fake::add_file(NT("s/abc.txt"), "2");
  fake::add_directory(NT("s/dddd"));
  test_settings().recurse = true;
  test_settings().batch = true;
  // A source spelled so that "ab.txt" just fits and "abc.txt" does not;
  // the walk of "dddd" could not even name its search pattern.
  size_t length = size_t(kPathMax) - 7;
  nstring source = NT(".") + nstring(length - 2, NT('/')) + NT("s");
  ASSERT_EQ(source.size(), length);
  EXPECT_EQ(copy_tree(run.job, source, full_name(NT("dst"))), 1);
  EXPECT_EQ(fake::content(NT("dst/ab.txt")), "1");
  EXPECT_FALSE(fake::exists(NT("dst/abc.txt")));
  std::string output = fake::console_output();
  EXPECT_NE(output.find(narrow_text((source + NT("/abc.txt")).c_str()) + ": Name too long.\n"),
            std::string::npos);
  EXPECT_NE(output.find(narrow_text((source + NT("/dddd/*.*")).c_str()) + ": Name too long.\n"),
            std::string::npos);
  // The destination side is measured too.
  fake::clear_console();
  nstring top = full_name(NT("dst"));
  nstring target = top + nstring(size_t(kPathMax) - 6 - top.size(), NT('/'));
  EXPECT_EQ(copy_tree(run.job, NT("s"), target), 1);
  output = fake::console_output();
  EXPECT_NE(output.find(narrow_text((target + NT("abc.txt")).c_str()) + ": Name too long.\n"),
            std::string::npos)
      << output;
}

// The status the search took as it yielded an entry is the one the copy
// goes by: a file's own status is never asked for again, on the first copy
// or on a pass with nothing to do. The Windows find record carries no
// identity, so there the job asks once more, for the two files and for the
// two subdirectories it passes over.
TEST_F(TreeCopy, EachFileIsExaminedOnce) {
  fake::add_file(NT("src/b.txt"), "B");
  DirectoryEntry entry;
  DirectorySearch *search = search_first(NT("src/b.txt"), &entry);
  ASSERT_NE(search, nullptr);
  search_close(search);
  // The source's identity, then the destinations of the files; with no
  // subdirectory to enter, the destination's identity is never needed.
  const int expected = entry.status_known ? 1 + 2 : 1 + 4 + 2;
  for (bool second_pass : {false, true}) {
    SCOPED_TRACE(second_pass);
    test_settings().newer_only = second_pass;
    int before = fake::call_count(fake::op_status);
    EXPECT_EQ(tree(), 0);
    EXPECT_EQ(fake::call_count(fake::op_status) - before, expected);
    EXPECT_EQ(fake::content(NT("dst/b.txt")), "B");
  }
}

} // namespace
} // namespace zorov

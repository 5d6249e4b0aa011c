// Checks of the in-memory platform itself, where its bookkeeping is not
// obvious: fault counting, short transfers, free space, search order, name
// folding and text lines. The other unit tests stand on these behaviours.
#include "platform/path_syntax.h"
#include "platform/platform_fake.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace zorov {
namespace {

class FakePlatform : public ::testing::Test {
protected:
  void SetUp() override { fake::reset(); }
};

const nstring separator(1, preferred_separator<nchar>(native_path_style));
// Names with drive prefixes, as Windows names have.
const bool drives = drive_prefix_length(nstring(NT("C:")), native_path_style) == 2;

// The native name of `relative` under the fake's current directory.
nstring under_work(const nstring &relative) {
  nstring full = drives ? NT("C:\\work") : NT("/work");
  return relative.empty() ? full : full + separator + relative;
}

TEST_F(FakePlatform, FaultsHitOnlyTheNthCallAndCountEveryCall) {
  struct Row {
    int nth;
    int calls;
    int failing_call; // 0: none
  } rows[] = {{1, 3, 1}, {2, 3, 2}, {3, 2, 0}, {0, 3, 1}};
  for (const Row &row : rows) {
    fake::reset();
    fake::add_file(NT("a.txt"), "x");
    fake::fail_call(fake::op_status, row.nth, EIO);
    int first_failure = 0;
    for (int call = 1; call <= row.calls; ++call) {
      FileStatus status;
      errno = 0;
      if (file_status(NT("a.txt"), &status) != 0 && first_failure == 0) {
        EXPECT_EQ(EIO, errno);
        first_failure = call;
      }
    }
    EXPECT_EQ(row.failing_call, first_failure) << "nth " << row.nth;
    EXPECT_EQ(row.calls, fake::call_count(fake::op_status));
  }
}

TEST_F(FakePlatform, ShortTransfersLimitOnlyTheirCall) {
  fake::add_file(NT("in"), "abcdefghij");
  fake::short_transfer(fake::op_read, 2, 3);
  fake::short_transfer(fake::op_write, 1, 0);
  int in = open_file(NT("in"), open_read, share_deny_write, 0644);
  int out = open_file(NT("out"), open_write_truncate, share_deny_read_write, 0644);
  char buffer[16];
  EXPECT_EQ(4, read_file(in, buffer, 4));
  EXPECT_EQ(3, read_file(in, buffer + 4, 4));
  EXPECT_EQ(3, read_file(in, buffer + 7, 4));
  EXPECT_EQ(0, read_file(in, buffer, 4));
  EXPECT_EQ(0, write_file(out, buffer, 10));
  EXPECT_EQ(10, write_file(out, buffer, 10));
  EXPECT_EQ(0, close_file(in));
  EXPECT_EQ(0, close_file(out));
  EXPECT_EQ("abcdefghij", fake::content(NT("out")));
  EXPECT_EQ(0, fake::open_descriptor_count());
}

TEST_F(FakePlatform, FreeSpaceMovesWhatFitsThenFailsWithNoSpace) {
  fake::set_free_space(6);
  int out = open_file(NT("out"), open_write_truncate, share_deny_none, 0644);
  EXPECT_EQ(4, write_file(out, "1234", 4));
  EXPECT_EQ(2, write_file(out, "5678", 4));
  errno = 0;
  EXPECT_EQ(-1, write_file(out, "9", 1));
  EXPECT_EQ(ENOSPC, errno);
  // Overwriting what is there needs no room.
  EXPECT_EQ(0, seek_file(out, 0));
  EXPECT_EQ(2, write_file(out, "ab", 2));
  close_file(out);
  EXPECT_EQ("ab3456", fake::content(NT("out")));
}

TEST_F(FakePlatform, AppendWritesAtTheEndAndReadOnlyRefusesWriting) {
  fake::add_file(NT("log"), "old");
  fake::add_file(NT("locked"), "keep", 0, true);
  int out = open_file(NT("log"), open_append, share_deny_write, 0644);
  seek_file(out, 0);
  write_file(out, "+new", 4);
  close_file(out);
  EXPECT_EQ("old+new", fake::content(NT("log")));
  errno = 0;
  EXPECT_EQ(-1, open_file(NT("locked"), open_write_truncate, share_deny_none, 0644));
  EXPECT_EQ(EACCES, errno);
  EXPECT_EQ("keep", fake::content(NT("locked")));
  errno = 0;
  EXPECT_EQ(-1, open_file(NT("missing/new"), open_write_truncate, share_deny_none, 0644));
  EXPECT_EQ(ENOENT, errno);
}

TEST_F(FakePlatform, LinksShareOneFile) {
  fake::add_file(NT("a"), "data");
  fake::add_link(NT("b"), NT("a"));
  EXPECT_EQ(1, same_file_identity(NT("a"), NT("./b")));
  EXPECT_EQ(0, same_file_identity(NT("a"), NT("c")));
  int out = open_file(NT("b"), open_write_truncate, share_deny_none, 0644);
  close_file(out);
  EXPECT_EQ("", fake::content(NT("a")));
}

TEST_F(FakePlatform, SearchGivesSortedMatchesWithDotEntries) {
  fake::add_file(NT("d/b.txt"), "");
  fake::add_file(NT("d/a.txt"), "");
  fake::add_file(NT("d/c.dat"), "");
  fake::add_directory(NT("d/sub"));
  struct Row {
    const nchar *pattern;
    const char *names;
  } rows[] = {
      {NT("d/*.*"), ". .. a.txt b.txt c.dat sub"},
      {NT("d/*.txt"), "a.txt b.txt"},
      {NT("d/?.dat"), "c.dat"},
      {NT("d/sub"), "sub"},
      {NT("d/*.none"), ""},
      {NT("nowhere/*"), ""},
  };
  for (const Row &row : rows) {
    std::string names;
    DirectoryEntry entry;
    DirectorySearch *search = search_first(row.pattern, &entry);
    if (search) {
      do {
        names += (names.empty() ? "" : " ") + narrow_text(entry.name.c_str());
      } while (search_next(search, &entry));
      search_close(search);
    }
    EXPECT_EQ(row.names, names) << narrow_text(row.pattern);
  }
  EXPECT_EQ(0, fake::open_search_count());
}

TEST_F(FakePlatform, FullPathsAreFoldedAgainstTheCurrentDirectory) {
  struct Row {
    const nchar *name;
    nstring full;
  } rows[] = {
      {NT(""), under_work(NT(""))},
      {NT("a/./b/../c"), under_work(NT("a") + separator + NT("c"))},
      {NT("a//b/"), under_work(NT("a") + separator + NT("b") + separator)},
  };
  for (const Row &row : rows) {
    nstring full;
    ASSERT_EQ(0, resolve_full_path(row.name, &full));
    EXPECT_EQ(row.full, full) << narrow_text(row.name);
  }
  nstring too_long(size_t(kPathMax), NT('x'));
  nstring full;
  EXPECT_EQ(-1, resolve_full_path(too_long.c_str(), &full));
}

TEST_F(FakePlatform, WindowsNamesKnowDrivesAndIgnoreCase) {
  if (!drives)
    GTEST_SKIP() << "Windows names only";
  struct Row {
    const nchar *name;
    const nchar *full;
  } rows[] = {
      {NT("C:"), NT("C:\\work")},         {NT("c:."), NT("C:\\work")},
      {NT("C:sub"), NT("C:\\work\\sub")}, {NT("D:sub"), NT("D:\\sub")},
      {NT("\\top"), NT("C:\\top")},       {NT("D:/a/../b/"), NT("D:\\b\\")},
  };
  for (const Row &row : rows) {
    nstring full;
    ASSERT_EQ(0, resolve_full_path(row.name, &full));
    EXPECT_EQ(nstring(row.full), full) << narrow_text(row.name);
  }
  fake::add_file(NT("Mixed.TXT"), "x");
  EXPECT_TRUE(fake::exists(NT("c:\\WORK\\mixed.txt")));
  DirectoryEntry entry;
  DirectorySearch *search = search_first(NT("*.txt"), &entry);
  ASSERT_NE(nullptr, search);
  EXPECT_EQ(nstring(NT("Mixed.TXT")), entry.name);
  search_close(search);
}

TEST_F(FakePlatform, PosixDotNamesAreHidden) {
  if (drives)
    GTEST_SKIP() << "POSIX names only";
  fake::add_file(NT(".profile"), "");
  fake::add_file(NT("Profile"), "");
  EXPECT_EQ(attribute_hidden, fake::attributes_of(NT(".profile")) & attribute_hidden);
  EXPECT_EQ(0u, fake::attributes_of(NT("Profile")) & attribute_hidden);
  EXPECT_FALSE(fake::exists(NT("profile")));
}

TEST_F(FakePlatform, RenameMovesAWholeTree) {
  fake::add_file(NT("old/inner/f"), "x");
  ASSERT_EQ(0, rename_file(NT("old"), NT("new")));
  EXPECT_FALSE(fake::exists(NT("old/inner/f")));
  EXPECT_EQ("x", fake::content(NT("new/inner/f")));
}

TEST_F(FakePlatform, TextLinesReadLikeTheRuntime) {
  fake::add_file(NT("list"), "one\r\nlonger line\nlast");
  TextStream *stream = open_text(NT("list"), text_read);
  ASSERT_NE(nullptr, stream);
  nchar line[8];
  std::vector<std::string> lines;
  while (read_text_line(stream, line, 8))
    lines.push_back(narrow_text(line));
  close_text(stream);
  std::vector<std::string> expected = {"one\n", "longer ", "line\n", "last"};
  EXPECT_EQ(expected, lines);
  EXPECT_EQ(0, fake::open_text_count());
}

TEST_F(FakePlatform, MemoryLimitCountsSmallAllocations) {
  fake::limit_memory(100, 2);
  void *first = allocate_memory(100);
  EXPECT_EQ(nullptr, allocate_memory(101));
  void *second = allocate_memory(10);
  EXPECT_EQ(nullptr, allocate_memory(10));
  EXPECT_NE(nullptr, first);
  EXPECT_NE(nullptr, second);
  EXPECT_EQ(2, fake::allocated_blocks());
  free_memory(first);
  free_memory(second);
  EXPECT_EQ(0, fake::allocated_blocks());
}

TEST_F(FakePlatform, ClockStepsPerReadingAndPausesMoveIt) {
  fake::set_clock(100, 5);
  EXPECT_EQ(100u, milliseconds_now());
  pause_milliseconds(20);
  EXPECT_EQ(125u, milliseconds_now());
  pause_milliseconds(0);
  EXPECT_EQ(130u, milliseconds_now());
  EXPECT_EQ((std::vector<uint32_t>{20, 0}), fake::pauses());
}

} // namespace
} // namespace zorov

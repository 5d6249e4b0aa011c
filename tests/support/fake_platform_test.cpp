// Checks of the in-memory platform's own controls, where its bookkeeping is
// not obvious: fault counting, short transfers, free space, memory and the
// clock; and the fixture that runs the contract suite of every layer against
// it, which checks that it behaves as the real layers do.
#include "platform/path_syntax.h"
#include "support/platform_contract.h"
#include "support/platform_fake.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace zorov {

// ------------------------------------------- the contract suite's fixture

namespace contract {

nstring enter_fresh_directory() {
  fake::reset();
  // The in-memory platform starts in "work" on the first drive, where drives
  // exist.
  bool drives = drive_prefix_length(nstring(NT("C:")), native_path_style) == 2;
  return drives ? NT("C:\\work") : NT("/work");
}

void leave_fresh_directory() {}

void make_read_only(const nstring &name) { fake::set_attributes(name, attribute_read_only); }

bool make_symbolic_link(const nstring &link, const nstring &target, std::string *why) {
  fake::add_symbolic_link(link, target);
  why->clear();
  return true;
}

bool make_hard_link(const nstring &link, const nstring &target, std::string *why) {
  fake::add_link(link, target);
  why->clear();
  return true;
}

bool make_null_device(const nstring &name, std::string *why) {
  fake::add_special(name, false);
  why->clear();
  return true;
}

bool make_pipe(const nstring &name, std::string *why) {
  fake::add_special(name, true);
  why->clear();
  return true;
}

} // namespace contract

namespace {

class FakePlatform : public ::testing::Test {
protected:
  void SetUp() override { fake::reset(); }
};

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

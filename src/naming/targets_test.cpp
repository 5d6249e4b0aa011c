#include "naming/targets.h"

#include "cli/base/error_level.h"
#include "support/run_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorov {
namespace {

class Targets : public testing_support::FreshRun {};

TEST(TargetKeyword, KeywordNeedsASourceBeforeAndATargetAfter) {
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
TEST_F(Targets, TargetResponseFileLinesAndOverlongLines) {
  nstring long_line(size_t(kPathMax) + 5, NT('x'));
  std::string content = "t1\r\n\nt2\n" + narrow_text(long_line.c_str()) + "\nt3";
  fake::add_file(NT("list"), content);
  nchar list_arg[] = NT("@list");
  nchar missing_arg[] = NT("@none");
  nchar *argv[] = {list_arg, missing_arg};
  TargetCursor cursor;
  nstring name;
  std::vector<nstring> seen;
  while (next_target(&name, 2, argv, &cursor))
    seen.push_back(name);
  EXPECT_EQ(seen, (std::vector<nstring>{NT("t1"), NT(""), NT("t2"), NT("t3"), NT("@none")}));
  EXPECT_EQ(fake::console_output(),
            "list: A line of this response file is too long to be a name; passed over.\n");
  EXPECT_EQ(cursor.error, level_stopped);
  EXPECT_EQ(cursor.list_file, nullptr);
  EXPECT_EQ(fake::open_text_count(), 0);
}

// A line that exactly fills the buffer is one target, never followed by an
// empty one (the current directory); a line with a NUL byte is refused.
TEST_F(Targets, TargetLinesThatFillTheBufferOrHoldANul) {
  nstring full_line(size_t(kPathMax), NT('f'));
  std::string content = narrow_text(full_line.c_str()) + "\r\n" + narrow_text(full_line.c_str()) +
                        "\n" + std::string("bad\0name\n\nt\n", 12);
  fake::add_file(NT("list"), content);
  nchar list_arg[] = NT("@list");
  nchar *argv[] = {list_arg};
  TargetCursor cursor;
  nstring name;
  std::vector<nstring> seen;
  while (next_target(&name, 1, argv, &cursor))
    seen.push_back(name);
  EXPECT_EQ(seen, (std::vector<nstring>{full_line, full_line, NT(""), NT("t")}));
  EXPECT_EQ(fake::console_output(),
            "list: A line of this response file holds a NUL byte; passed over.\n");
  EXPECT_EQ(cursor.error, level_stopped);
}

} // namespace
} // namespace zorov

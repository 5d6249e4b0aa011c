#include "naming/sources.h"

#include "platform/path_syntax.h"
#include "support/row_tests.h"
#include "support/run_test_support.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace zorov {
namespace {

class Sources : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    fake::add_file(NT("list"), "a.txt\nb.txt\n");
    fake::add_file(NT("crlf"), "one\r\ntwo\r\n\r\n\nthree");
    fake::add_file(NT("literal"), "*.log\n@list\nw/?.txt\n");
    fake::add_file(NT("@named"), "N");
    fake::add_file(NT("w/a.txt"), "A");
    fake::add_file(NT("w/h.txt"), "H");
    fake::set_attributes(NT("w/h.txt"), attribute_hidden);
    fake::add_file(NT("w/s.txt"), "S");
    fake::set_attributes(NT("w/s.txt"), attribute_system);
    fake::add_directory(NT("w/d.txt"));
    fake::add_file(NT("w/b.dat"), "B");
    fake::add_file(NT("sub/x.dat"), "X");
    fake::add_file(NT("sub/y.dat"), "Y");
    fake::add_file(NT("sub/z.txt"), "Z");
    fake::add_file(NT("top.dat"), "T");
  }
};

// Every name next_source gives for `operands`, checking that it ends idle;
// `result` gets the enumeration's own result.
std::vector<nstring> enumerate(std::vector<nstring> operands, int32_t *result = nullptr) {
  std::vector<nchar *> argv;
  for (nstring &operand : operands)
    argv.push_back(&operand[0]);
  argv.push_back(nullptr);
  SourceCursor cursor;
  int texts_open = fake::open_text_count();
  std::vector<nstring> names;
  nstring name;
  while (next_source(&name, int(operands.size()), argv.data(), &cursor))
    names.push_back(name);
  EXPECT_FALSE(cursor.wildcard_active);
  EXPECT_EQ(cursor.list_file, nullptr);
  EXPECT_EQ(cursor.next, int(operands.size()));
  if (result)
    *result = cursor.result;
  EXPECT_EQ(fake::open_search_count(), 0);
  EXPECT_EQ(fake::open_text_count(), texts_open);
  return names;
}

std::string joined(const std::vector<nstring> &names) {
  std::string text;
  for (const nstring &name : names)
    text += narrow_text(name.c_str()) + "|";
  return text;
}

TEST_F(Sources, OperandsListsAndPatterns) {
  struct Row {
    std::vector<nstring> operands;
    bool copy_hidden;
    std::vector<nstring> names;
    std::string output;
  } rows[] = {
      {{NT("@list"), NT("c")}, false, {NT("a.txt"), NT("b.txt"), NT("c")}, ""},
      // CR LF reads as a line feed; empty lines name nothing; the last line
      // needs no line end.
      {{NT("@crlf")}, false, {NT("one"), NT("two"), NT("three")}, ""},
      {{NT("@missing"), NT("c")}, false, {NT("c")}, "missing: Unable to open response file\n"},
      {{NT("@named")}, false, {NT("@named")}, ""},
      {{NT("@")}, false, {}, ": Unable to open response file\n"},
      // Lines are names: no wildcard expansion, no nested list.
      {{NT("@literal")}, false, {NT("*.log"), NT("@list"), NT("w/?.txt")}, ""},
      {{NT("w/*.txt")}, false, {NT("w/a.txt")}, ""},
      {{NT("w/*.txt")}, true, {NT("w/a.txt"), NT("w/h.txt"), NT("w/s.txt")}, ""},
      {{NT("w/?.*"), NT("w/*.dat")}, false, {NT("w/a.txt"), NT("w/b.dat"), NT("w/b.dat")}, ""},
      {{NT("sub/*.dat")}, false, {NT("sub/x.dat"), NT("sub/y.dat")}, ""},
      // No separator is made up in front of a match of a bare pattern.
      {{NT("*.dat")}, false, {NT("top.dat")}, ""},
      {{NT("none*.zzz"), NT("gone/*.txt"), NT("c")}, false, {NT("c")}, ""},
      // A plain name is handed on whether it exists or not.
      {{NT("missing"), NT("w")}, false, {NT("missing"), NT("w")}, ""},
  };
  for (const Row &row : rows) {
    fake::clear_console();
    test_settings().copy_hidden = row.copy_hidden;
    EXPECT_EQ(joined(enumerate(row.operands)), joined(row.names)) << joined(row.operands);
    EXPECT_EQ(fake::console_output(), row.output) << joined(row.operands);
    EXPECT_EQ(fake::console_error(), "");
  }
}

// A line holding a NUL byte, or longer than a name, is refused whole, and
// the run remembers that a source was not copied.
TEST_F(Sources, ResponseLineWithANulByteOrTooLongIsRefused) {
  std::string full(size_t(kPathMax), 'x');
  fake::add_file(NT("nul"), std::string("a\nkeep\0.tmp\nb\n", 15) + full + "y\n" + full + "\r\n./" +
                                full + "\nlast");
  int32_t result = 0;
  std::vector<nstring> names = enumerate({NT("@nul"), NT("c")}, &result);
  EXPECT_EQ(names, (std::vector<nstring>{NT("a"), NT("b"), nstring(full.begin(), full.end()),
                                         NT("last"), NT("c")}));
  const std::string refused = "nul: A line of this response file ";
  EXPECT_EQ(fake::console_output(), refused + "holds a NUL byte; passed over.\n" + refused +
                                        "is too long to be a name; passed over.\n" + refused +
                                        "is too long to be a name; passed over.\n");
  EXPECT_EQ(result, 1);
}

// A list that can't be read on is not a list that ended: the names it still
// held are not copied.
TEST_F(Sources, ListWhoseReadingFailsIsReportedAndEnds) {
  fake::fail_call(fake::op_read_text, 2, EIO);
  int32_t result = 0;
  EXPECT_EQ(joined(enumerate({NT("@list"), NT("c")}, &result)), "a.txt|c|");
  EXPECT_EQ(fake::console_output(),
            "list: Unable to read response file.  " + error_text(EIO) + "\n");
  EXPECT_EQ(result, 1);
}

// A pattern whose directory can't be read leaves its matches out: a failure
// with the system's reason, where a pattern without matches is dropped.
using UnreadablePatternTest = testing_support::RowTest<Sources, fake::Operation>;

TEST_P(UnreadablePatternTest, PatternInADirectoryThatCannotBeReadIsAFailure) {
  const fake::Operation operation = GetParam();
  fake::fail_call(operation, 1, EACCES);
  int32_t result = 0;
  EXPECT_EQ(joined(enumerate({NT("w/*.txt"), NT("c")}, &result)),
            operation == fake::op_search ? "c|" : "w/a.txt|c|");
  EXPECT_EQ(fake::console_output(), testing_support::shown(NT("w")) +
                                        ": Unable to read directory.  " + error_text(EACCES) +
                                        "\n");
  EXPECT_EQ(result, 1);
}

INSTANTIATE_TEST_SUITE_P(Sources, UnreadablePatternTest,
                         ::testing::Values(fake::op_search, fake::op_search_next));

TEST_F(Sources, PatternKeepsItsOwnDirectorySpelling) {
  if (!is_separator(NT('\\'), native_path_style)) {
    // A backslash is an ordinary character of a POSIX name.
    EXPECT_EQ(joined(enumerate({NT("sub\\*.dat")})), "");
    return;
  }
  EXPECT_EQ(joined(enumerate({NT("sub\\*.dat")})), "sub\\x.dat|sub\\y.dat|");
  fake::add_file(NT("D:\\other\\q.dat"), "Q");
  EXPECT_EQ(joined(enumerate({NT("d:\\other\\*.dat")})), "d:\\other\\q.dat|");
}

TEST_F(Sources, ResponseFileIsReadAgainForEachRound) {
  std::vector<nstring> operands = {NT("@list"), NT("w/*.txt"), NT("t")};
  std::vector<nchar *> argv;
  for (nstring &operand : operands)
    argv.push_back(&operand[0]);
  nstring name;
  for (int round = 0; round < 2; ++round) {
    SourceCursor cursor;
    std::vector<nstring> names;
    while (next_source(&name, 2, argv.data(), &cursor))
      names.push_back(name);
    EXPECT_EQ(joined(names), "a.txt|b.txt|w/a.txt|") << round;
    EXPECT_EQ(cursor.next, 2);
  }
  EXPECT_EQ(fake::call_count(fake::op_open_text), 2);
}

TEST_F(Sources, OverlongNamesAreRefusedWhole) {
  nstring longest(size_t(kPathMax), NT('n'));
  nstring too_long = longest + NT("n");
  int32_t result = 0;
  EXPECT_EQ(joined(enumerate({too_long, longest}, &result)), joined({longest}));
  EXPECT_EQ(fake::console_output(), narrow_text(too_long.c_str()) + ": Name too long.\n");
  EXPECT_EQ(result, 1);
}

TEST_F(Sources, OverlongMatchIsRefusedAndTheNextFollows) {
  // A directory spelled long enough that "ab.txt" just fits and "abc.txt"
  // does not.
  fake::add_file(NT("s/ab.txt"), "1");
  fake::add_file(NT("s/abc.txt"), "2");
  fake::add_file(NT("s/b.txt"), "3");
  size_t directory_length = size_t(kPathMax) - 6;
  nstring directory = NT(".") + nstring(directory_length - 3, NT('/')) + NT("s/");
  ASSERT_EQ(directory.size(), directory_length);
  int32_t result = 0;
  std::vector<nstring> names = enumerate({directory + NT("*.txt")}, &result);
  EXPECT_EQ(joined(names), joined({directory + NT("ab.txt"), directory + NT("b.txt")}));
  EXPECT_EQ(fake::console_output(),
            narrow_text((directory + NT("abc.txt")).c_str()) + ": Name too long.\n");
  EXPECT_EQ(result, 1);
}

TEST_F(Sources, UnopenableListFollowsTheReportRule) {
  test_settings().quiet = true;
  open_log_file(NT("log"), 0);
  int32_t result = 1;
  EXPECT_EQ(joined(enumerate({NT("@gone")}, &result)), "");
  close_logs();
  EXPECT_EQ(fake::console_output(), "");
  EXPECT_EQ(fake::content(NT("log")), "gone: Unable to open response file\n");
  EXPECT_EQ(result, 0);
}

} // namespace
} // namespace zorov

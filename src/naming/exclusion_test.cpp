#include "naming/exclusion.h"

#include "cli/base/options.h"
#include "platform/platform.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace zorov {
namespace {

nchar lower(nchar c) { return c >= NT('A') && c <= NT('Z') ? nchar(c - NT('A') + NT('a')) : c; }

// The matcher exactly as the rules read, recursion and all: exponential on
// hostile patterns, so it only sees short texts.
bool reference_steps(const nchar *text, const nchar *pattern);

bool reference_match(const nchar *text, const nchar *pattern) {
  if (*pattern == 0)
    return true;
  return reference_steps(text, pattern);
}

bool reference_steps(const nchar *text, const nchar *pattern) {
  for (;; ++pattern, ++text) {
    if (*pattern == 0)
      return *text == 0;
    if (*pattern == NT('*')) {
      if (*text == 0)
        return true;
      for (const nchar *start = text; *start; ++start)
        if (reference_match(start, pattern + 1))
          return true;
      return false;
    }
    if (*text == 0)
      return false;
    if (*pattern != NT('?') && lower(*pattern) != lower(*text))
      return false;
  }
}

std::vector<nstring> patterns() {
  std::vector<nstring> list;
  for (const ExclusionNode *node = options.exclusions; node; node = node->next)
    list.push_back(node->pattern);
  return list;
}

class ExclusionTest : public ::testing::Test {
protected:
  void SetUp() override { reset_test_settings(); }
};

// The matcher as the run sees it: a list of the one pattern against a
// source's path.
bool excluded_by(const nchar *pattern, const nchar *path) {
  use_test_exclusions(pattern);
  return is_excluded(path);
}

struct MatchRow {
  const nchar *text;
  const nchar *pattern;
  bool match;
};

TEST_F(ExclusionTest, MatcherFollowsTheWildcardRules) {
  const MatchRow rows[] = {
      {NT("anything"), NT(""), true},
      {NT(""), NT(""), true},
      {NT(""), NT("*"), true},
      {NT(""), NT("*abc"), true},
      {NT(""), NT("?"), false},
      {NT(""), NT("a"), false},
      {NT("abc"), NT("abc"), true},
      {NT("abc"), NT("ABC"), true},
      {NT("abcd"), NT("abc"), false},
      {NT("ab"), NT("abc"), false},
      {NT("abc"), NT("a?c"), true},
      {NT("a/c"), NT("a?c"), true},
      {NT("ac"), NT("a?c"), false},
      {NT("abc"), NT("a*"), true},
      {NT("a"), NT("a*"), true},
      {NT("C:/X/AB"), NT("*/AB*CD"), true},
      {NT("C:/X/ABX"), NT("*/AB*CD"), false},
      {NT("aa"), NT("*a*x"), true},
      {NT("ab"), NT("*a*x"), false},
      {NT("C:/SRC/ABC"), NT("*/ABC/*"), false},
      {NT("x.EXE"), NT("*.exe"), true},
      {NT("\xe9.EXE"), NT("\xc9.EXE"), false},
      {NT("\xe9.EXE"), NT("\xe9.exe"), true},
  };
  for (const MatchRow &row : rows) {
    EXPECT_EQ(excluded_by(row.pattern, row.text), row.match)
        << narrow_text(row.text) << " against " << narrow_text(row.pattern);
    EXPECT_EQ(reference_match(row.text, row.pattern), row.match)
        << "reference: " << narrow_text(row.text) << " against " << narrow_text(row.pattern);
  }
}

TEST_F(ExclusionTest, MatcherAgreesWithTheRecursiveReading) {
  std::mt19937 random(12345);
  const nchar pattern_chars[] = NT("ab*?*a/");
  const nchar text_chars[] = NT("abAB/");
  std::uniform_int_distribution<int> pattern_length(0, 9);
  std::uniform_int_distribution<int> text_length(0, 10);
  std::uniform_int_distribution<size_t> pattern_pick(0, 6);
  std::uniform_int_distribution<size_t> text_pick(0, 4);
  int matches = 0;
  for (int round = 0; round < 200000; ++round) {
    nstring pattern, text;
    for (int i = pattern_length(random); i > 0; --i)
      pattern.push_back(pattern_chars[pattern_pick(random)]);
    for (int i = text_length(random); i > 0; --i)
      text.push_back(text_chars[text_pick(random)]);
    bool expected = reference_match(text.c_str(), pattern.c_str());
    matches += expected;
    ASSERT_EQ(excluded_by(pattern.c_str(), text.c_str()), expected)
        << narrow_text(text.c_str()) << " against " << narrow_text(pattern.c_str());
  }
  // Both answers must be well represented for the comparison to mean much.
  EXPECT_GT(matches, 20000);
  EXPECT_LT(matches, 180000);
}

TEST_F(ExclusionTest, HostilePatternsAnswerInBoundedTime) {
  // The final C can't be taken by an A of the pattern, so no star is ever
  // reached with the text used up.
  nstring text = nstring(size_t(kPathMax) - 1, NT('A')) + NT("C");
  nstring many_stars;
  for (int i = 0; i < kPathMax / 2; ++i)
    many_stars += NT("*A");
  struct Case {
    nstring pattern;
    bool match;
  };
  const Case cases[] = {
      {many_stars + NT("B"), false},
      {many_stars + NT("C"), true},
      {many_stars + NT("*"), true},
      {NT("*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*A*B"), false},
      {NT("*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*?*B"), true},
  };
  auto start = std::chrono::steady_clock::now();
  for (const Case &c : cases)
    EXPECT_EQ(excluded_by(c.pattern.c_str(), text.c_str()), c.match) << c.pattern.size();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
}

struct ListRow {
  const nchar *text;
  std::vector<nstring> patterns;
};

TEST_F(ExclusionTest, ListIsSplitAtEverySemicolon) {
  const ListRow rows[] = {
      {NT(""), {NT("")}},
      {NT("*.exe"), {NT("*.EXE")}},
      {NT("\"*.exe;*/abc/*\""), {NT("*.EXE"), NT("*/ABC/*")}},
      {NT("\"*.exe;\""), {NT("*.EXE"), NT("")}},
      {NT("a;;b"), {NT("A"), NT(""), NT("B")}},
      {NT(";"), {NT(""), NT("")}},
      {NT("\""), {NT("")}},
      {NT("\"\""), {NT("")}},
      {NT("a\""), {NT("A")}},
      {NT("\"a"), {NT("A")}},
      {NT("*\\obj\\*"), {NT("*/OBJ/*")}},
      {NT("*/obj/*"), {NT("*/OBJ/*")}},
      {NT("\xe9z"), {NT("\xe9Z")}},
  };
  for (const ListRow &row : rows) {
    use_test_exclusions(row.text);
    EXPECT_EQ(patterns(), row.patterns) << narrow_text(row.text);
  }
}

TEST_F(ExclusionTest, LaterListReplacesTheEarlierOne) {
  use_test_exclusions(NT("a.txt;c.txt"));
  use_test_exclusions(NT("b.txt"));
  EXPECT_EQ(patterns(), std::vector<nstring>{NT("B.TXT")});
}

struct PathRow {
  const nchar *path;
  bool excluded;
};

TEST_F(ExclusionTest, ExampleListExcludesByWholePath) {
  use_test_exclusions(NT("\"*.exe;*/abc/*\""));
  const PathRow rows[] = {
      {NT("C:\\Work\\Tool.exe"), true},  {NT("C:\\Work\\tool.EXE.bak"), false},
      {NT("C:\\src\\abc\\x.c"), true},   {NT("C:\\src\\ABC\\sub\\y.h"), true},
      {NT("C:\\src\\abcd\\x.c"), false}, {NT("C:\\src\\abc"), false},
      {NT("/src/abc/x.c"), true},
  };
  for (const PathRow &row : rows)
    EXPECT_EQ(is_excluded(row.path), row.excluded) << narrow_text(row.path);
}

TEST_F(ExclusionTest, OtherListsAgainstPaths) {
  struct Case {
    const nchar *list;
    const nchar *path;
    bool excluded;
  };
  const Case cases[] = {
      {NT("tool.exe"), NT("C:\\Work\\tool.exe"), false},
      {NT("tool.exe"), NT("TOOL.EXE"), true},
      {NT("*/ab*cd"), NT("C:\\x\\ab"), true},
      {NT("*\\obj\\*"), NT("/p/obj/a.o"), true},
      {NT("*.EXE"), NT("Tool.Exe"), true},
      {NT("*.exe"), NT("Tool.Exe"), true},
      {NT("\"*.exe;\""), NT("/any/file.txt"), true},
      {NT("a;;b"), NT("/any/file.txt"), true},
      {NT("*.c"), NT("/any/file.txt"), false},
  };
  for (const Case &c : cases) {
    use_test_exclusions(c.list);
    EXPECT_EQ(is_excluded(c.path), c.excluded) << narrow_text(c.list) << " " << narrow_text(c.path);
  }
  release_test_exclusions();
  EXPECT_FALSE(is_excluded(NT("/any/file.txt")));
}

TEST_F(ExclusionTest, OverlongPathIsCutNotOverrun) {
  use_test_exclusions(NT("*B"));
  nstring path(size_t(kPathMax), NT('a'));
  EXPECT_FALSE(is_excluded((path + NT("b")).c_str()));
  path.back() = NT('b');
  EXPECT_TRUE(is_excluded((path + NT("aaaa")).c_str()));
}

} // namespace
} // namespace zorov

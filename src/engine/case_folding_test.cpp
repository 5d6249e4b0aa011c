// Names compared by the case folding of every script.
#include "engine/case_folding.h"

#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace zorov {
namespace {

TEST(DifferOnlyInCase, FoldsLettersOfEveryWidthAndNothingElse) {
  struct Row {
    const nchar *first;
    const nchar *second;
    bool expected;
  } rows[] = {
      {NT("doc.txt"), NT("DOC.TXT"), true},
      {NT("doc.txt"), NT("doc.txt"), false}, // the same name: no other spelling
      {NT("doc.txt"), NT("doc.txt "), false},
      {NT("doc1.txt"), NT("doc2.TXT"), false},
      {NT("\u00e4rger"), NT("\u00c4RGER"), true},     // Latin-1
      {NT("\u0151z"), NT("\u0150Z"), true},           // Latin Extended-A
      {NT("\u03b1\u03b2"), NT("\u0391\u0392"), true}, // Greek
      {NT("\u0434\u0451"), NT("\u0414\u0401"), true}, // Cyrillic
      {NT("\u00f7"), NT("\u00d7"), false},            // signs, not letters
      {NT("a-b"), NT("a_b"), false},
      {NT("\u0531.txt"), NT("\u0561.txt"), true}, // Armenian
      {NT("\u10a0.txt"), NT("\u2d00.txt"), true}, // Georgian
      {NT("\u01f1"), NT("\u01f3"), true},         // a capital pair
      {NT("\u01f2"), NT("\u01f3"), true},         // its title case
      {NT("\uff21.txt"), NT("\uff41.txt"), true}, // full width
      {NT("\u13a0"), NT("\uab70"), true},         // Cherokee
      {NT("\u1e9e"), NT("\u00df"), true},         // sharp s
      {NT("\U00010400"), NT("\U00010428"), true}, // beyond 16 bits
      {NT("\u0130"), NT("i"), false},             // Turkic alone
      {NT("\u00df"), NT("ss"), false},            // one letter for one
  };
  for (const Row &row : rows)
    EXPECT_EQ(row.expected, differ_only_in_case(row.first, row.second))
        << narrow_text(row.first) << " | " << narrow_text(row.second);
}

TEST(DifferOnlyInCase, BytesThatAreNotUtf8CompareAsTheyAre) {
  if (names_are_utf16())
    GTEST_SKIP() << "names are UTF-16 here";
  auto bytes = [](const std::string &text) { return nstring(text.begin(), text.end()); };
  EXPECT_FALSE(differ_only_in_case(bytes("a\xe4"), bytes("a\xc4")));
  EXPECT_TRUE(differ_only_in_case(bytes("a\xff"), bytes("A\xff")));
  // An over-long form of a letter is no letter.
  EXPECT_FALSE(differ_only_in_case(bytes("\xc1\x81"), bytes("a")));
}

} // namespace
} // namespace zorov

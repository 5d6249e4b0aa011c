#include "engine/same_file.h"

#include "platform/path_syntax.h"

#include <gtest/gtest.h>

namespace zorov {
namespace {

TEST(SameFileName, ComparesByTheRulesOfTheStyle) {
  struct Row {
    const nchar *first;
    const nchar *second;
    PathStyle style;
    bool same;
  } rows[] = {
      {NT("C:\\Data\\a.txt"), NT("c:\\dATA\\A.TXT"), path_style_windows, true},
      {NT("C:\\data\\a\u00e9"), NT("C:\\data\\a\u00c9"), path_style_windows, false},
      {NT("C:\\data\\a"), NT("C:\\data\\ab"), path_style_windows, false},
      {NT("/data/a.txt"), NT("/data/a.txt"), path_style_posix, true},
      {NT("/data/a.txt"), NT("/data/A.txt"), path_style_posix, false},
      {NT("/data/ab"), NT("/data/a"), path_style_posix, false},
  };
  for (const Row &row : rows)
    EXPECT_EQ(row.same, same_file_name(row.first, row.second, row.style))
        << narrow_text(row.first) << " | " << narrow_text(row.second);
}

TEST(SameIdentity, NeedsAnIdentityOnBothSides) {
  struct Row {
    const char *name;
    uint64_t device, index, other_device, other_index;
    bool same;
  } rows[] = {
      {"one file", 3, 7, 3, 7, true},
      {"another file", 3, 7, 3, 8, false},
      {"another device", 3, 7, 4, 7, false},
      {"neither known", 0, 0, 0, 0, false},
  };
  for (const Row &row : rows) {
    FileStatus one, other;
    one.device = row.device;
    one.file_index = row.index;
    other.device = row.other_device;
    other.file_index = row.other_index;
    EXPECT_EQ(row.same, same_identity(one, other)) << row.name;
  }
}

} // namespace
} // namespace zorov

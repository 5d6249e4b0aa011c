#include "cli/base/error_level.h"

#include <gtest/gtest.h>

namespace zorov {
namespace {

TEST(ErrorLevel, LastResultThenFailedTargetThenWorstSource) {
  struct Row {
    int32_t last, target, worst, level;
  };
  const Row rows[] = {
      {0, 0, 0, 0}, {1, 0, 1, 1}, {0, 0, 1, 1}, {0, 9, 1, 9},
      {0, 8, 0, 8}, {1, 9, 1, 1}, {8, 9, 8, 8}, {0, 0, 8, 8},
  };
  for (const Row &row : rows)
    EXPECT_EQ(form_error_level(row.last, row.target, row.worst), row.level)
        << row.last << " " << row.target << " " << row.worst;
}

} // namespace
} // namespace zorov

#include "engine/case_folding.h"

namespace zorov {

uint32_t fold_case(uint32_t code_point) {
  // The first run that ends at or after the code point is the only one it
  // can be in.
  size_t low = 0, high = case_fold_run_count;
  while (low < high) {
    size_t middle = low + (high - low) / 2;
    if (case_fold_runs[middle].last < code_point)
      low = middle + 1;
    else
      high = middle;
  }
  if (low == case_fold_run_count)
    return code_point;
  const CaseFoldRun &run = case_fold_runs[low];
  if (code_point < run.first || (code_point - run.first) % run.step != 0)
    return code_point;
  return uint32_t(int64_t(code_point) + run.delta);
}

} // namespace zorov

// Unicode simple case folding: the letter every spelling of a letter by case
// comes down to (Ա and ա to ա, Ǳ, ǲ and ǳ to ǳ, Ａ and ａ to ａ), one letter
// for one letter, for every script. The table is generated from the Unicode
// data by scripts/case_folding.py.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zorov {

// Letters from `first` to `last`, `step` apart (1, or 2 where capitals and
// small letters alternate), each folding to itself plus `delta`.
struct CaseFoldRun {
  uint32_t first;
  uint32_t last;
  int32_t delta;
  uint32_t step;
};

// The runs in order; no run spans a letter of another.
extern const CaseFoldRun case_fold_runs[];
extern const size_t case_fold_run_count;

// The folded form of a code point; every code point the data does not fold
// (and every value beyond Unicode) is its own.
uint32_t fold_case(uint32_t code_point);

} // namespace zorov

// Unicode simple case folding: the letter every spelling of a letter by case
// comes down to (Ա and ա to ա, Ǳ, ǲ and ǳ to ǳ, Ａ and ａ to ａ), one letter
// for one letter, for every script, and names compared by it. The table is
// generated from the Unicode data by scripts/case_folding.py. Names are read
// as UTF-8 on POSIX and UTF-16 on Windows; a byte that begins no well-formed
// UTF-8 sequence is no letter, so such names compare byte for byte.
#pragma once

#include "platform/native.h"

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

// True when the names are one after folding the case of every letter.
bool same_when_folded(const nstring &first, const nstring &second);

// True when the two names differ, but only in the case of their letters.
bool differ_only_in_case(const nstring &first, const nstring &second);

// Whether a name is well-formed text: UTF-8 on POSIX, UTF-16 without a
// half of a surrogate pair alone on Windows. A file system may read a name
// that is not (an over-long letter, a pair of surrogates in UTF-8) as
// another.
bool well_formed_name(const nstring &name);

} // namespace zorov

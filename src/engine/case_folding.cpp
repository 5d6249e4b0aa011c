#include "engine/case_folding.h"

#include "platform/path_syntax.h"

#include <type_traits>

namespace zorov {

namespace {

// Code points of bytes that are not UTF-8 are placed beyond Unicode, where
// nothing folds, so that such names still compare byte for byte.
const uint32_t kBeyondUnicode = 0x110000;

uint32_t unit_at(const nstring &text, size_t at) {
  return uint32_t(static_cast<std::make_unsigned<nchar>::type>(text[at]));
}

// A UTF-16 unit of a surrogate pair: its first (high) or its second (low)
// half.
bool is_high_surrogate(uint32_t unit) { return unit >= 0xD800u && unit <= 0xDBFFu; }
bool is_low_surrogate(uint32_t unit) { return unit >= 0xDC00u && unit <= 0xDFFFu; }

// The code point at `*at` of UTF-16 text; `*at` moves past it. A half of a
// pair found alone stands for itself.
uint32_t next_utf16_code_point(const nstring &text, size_t *at) {
  uint32_t lead = unit_at(text, *at);
  *at += 1;
  if (!is_high_surrogate(lead) || *at == text.size() || !is_low_surrogate(unit_at(text, *at)))
    return lead;
  uint32_t trail = unit_at(text, *at);
  *at += 1;
  return 0x10000u + ((lead - 0xD800u) << 10) + (trail - 0xDC00u);
}

// The code point at `*at` (UTF-8 on POSIX, UTF-16 on Windows); `*at` moves
// past it. A byte that begins no well-formed UTF-8 sequence stands for
// itself, beyond Unicode.
uint32_t next_code_point(const nstring &text, size_t *at) {
  if (names_are_utf16())
    return next_utf16_code_point(text, at);
  static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
  uint32_t lead = unit_at(text, *at);
  *at += 1;
  if (lead < 0x80)
    return lead;
  size_t more = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  if (more == 0 || *at + more > text.size())
    return kBeyondUnicode + lead;
  uint32_t value = lead & (0x3Fu >> more);
  for (size_t i = 0; i < more; ++i) {
    uint32_t next = unit_at(text, *at + i);
    if ((next & 0xC0u) != 0x80u)
      return kBeyondUnicode + lead;
    value = value << 6 | (next & 0x3Fu);
  }
  // An over-long form is not UTF-8, and so no letter; a file system that
  // reads it as one answers for a name its directory does not list.
  if (value < least[more] || value >= kBeyondUnicode)
    return kBeyondUnicode + lead;
  *at += more;
  return value;
}

// The folded form of a code point; every code point the data does not fold
// (and every value beyond Unicode) is its own.
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

} // namespace

bool same_when_folded(const nstring &first, const nstring &second) {
  size_t i = 0, j = 0;
  while (i < first.size() && j < second.size())
    if (fold_case(next_code_point(first, &i)) != fold_case(next_code_point(second, &j)))
      return false;
  return i == first.size() && j == second.size();
}

bool differ_only_in_case(const nstring &first, const nstring &second) {
  return first != second && same_when_folded(first, second);
}

bool well_formed_name(const nstring &name) {
  size_t at = 0;
  while (at < name.size()) {
    uint32_t code_point = next_code_point(name, &at);
    if (code_point >= kBeyondUnicode || (code_point >= 0xD800u && code_point <= 0xDFFFu))
      return false;
  }
  return true;
}

} // namespace zorov

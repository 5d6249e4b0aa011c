// Fuzz target: the exclusion list builder and matcher. The input is the
// text of one -x flag, a NUL, then source paths separated by NULs. The
// program's list and answers are compared with a plain, memoised reading of
// the rules: quotes, slashes, capitals and pieces as the list is built, and
// a `*` that stands for any run of characters (a final one for the rest of
// the text), `?` for any one, other characters equal but for ASCII case.
#include "cli/base/options.h"
#include "naming/exclusion.h"
#include "platform/path_syntax.h"
#include "support/test_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace zorov;

const size_t kLongestText = 300;

nstring folded(nstring text) {
  for (nchar &c : text)
    c = c == NT('\\') ? NT('/') : ascii_upper(c);
  return text;
}

std::vector<nstring> expected_patterns(nstring text) {
  if (!text.empty() && text[0] == NT('"'))
    text.erase(0, 1);
  if (!text.empty() && text.back() == NT('"'))
    text.pop_back();
  text = folded(text);
  std::vector<nstring> pieces(1);
  for (nchar c : text) {
    if (c == NT(';'))
      pieces.emplace_back();
    else
      pieces.back().push_back(c);
  }
  return pieces;
}

// The matcher as the rules read, with each (text, pattern) position
// answered once: 0 unknown, 1 no, 2 yes.
struct Matcher {
  const nstring &text;
  const nstring &pattern;
  std::vector<char> known;

  Matcher(const nstring &t, const nstring &p)
      : text(t), pattern(p), known((t.size() + 1) * (p.size() + 1), 0) {}

  bool match(size_t t, size_t p) {
    char &answer = known[t * (pattern.size() + 1) + p];
    if (answer == 0)
      answer = decide(t, p) ? 2 : 1;
    return answer == 2;
  }

  bool decide(size_t t, size_t p) {
    if (p == pattern.size())
      return t == text.size();
    if (pattern[p] == NT('*')) {
      if (t == text.size() || p + 1 == pattern.size())
        return true;
      for (size_t from = t; from < text.size(); ++from)
        if (match(from, p + 1))
          return true;
      return false;
    }
    if (t == text.size())
      return false;
    if (pattern[p] != NT('?') && ascii_upper(text[t]) != ascii_upper(pattern[p]))
      return false;
    return match(t + 1, p + 1);
  }
};

bool expected_match(const nstring &text, const nstring &pattern) {
  if (pattern.empty())
    return true;
  Matcher matcher(text, pattern);
  return matcher.match(0, 0);
}

void fail(const char *what) {
  std::fprintf(stderr, "exclusions fuzz target: %s\n", what);
  std::abort();
}

std::vector<nstring> pieces_of(const uint8_t *data, size_t size) {
  std::vector<nstring> pieces(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0)
      pieces.emplace_back();
    else if (pieces.back().size() < kLongestText)
      pieces.back().push_back(nchar(data[i]));
  }
  return pieces;
}

void check_list(const std::vector<nstring> &patterns) {
  size_t count = 0;
  for (const ExclusionNode *node = options.exclusions; node; node = node->next, ++count)
    if (count >= patterns.size() || patterns[count] != node->pattern)
      fail("the list differs from the flag's text");
  if (count != patterns.size())
    fail("the list has a different number of patterns");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<nstring> pieces = pieces_of(data, size);
  use_test_exclusions(pieces[0].c_str());
  std::vector<nstring> patterns = expected_patterns(pieces[0]);
  check_list(patterns);
  for (size_t i = 1; i < pieces.size(); ++i) {
    bool expected = false;
    for (const nstring &pattern : patterns)
      expected = expected || expected_match(folded(pieces[i]), pattern);
    if (is_excluded(pieces[i].c_str()) != expected)
      fail("is_excluded differs from the rules");
  }
  release_test_exclusions();
  return 0;
}

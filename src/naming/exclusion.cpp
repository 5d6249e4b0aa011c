// Exclusion patterns: the -x list and the test of each source against it.
#include "naming/exclusion.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "platform/path_syntax.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace zorov {

namespace {

const nchar kBackslash[] = NT("\\");
const nchar kSlash[] = NT("/");

void upper_case(nchar *text) {
  for (; *text; ++text)
    *text = ascii_upper(*text);
}

size_t text_length(const nchar *text) { return std::char_traits<nchar>::length(text); }

// One step of the matcher over the set of text positions still alive:
// `alive[i]` says that the pattern read so far can end with i characters of
// the text used. A `*` seen by a live position with the text used up ends
// the match with success, so it is answered before the step.
void step_one_character(std::vector<char> *alive, const nchar *text, size_t length,
                        nchar pattern_char) {
  std::vector<char> &row = *alive;
  for (size_t i = length; i > 0; --i) {
    nchar c = text[i - 1];
    bool fits = pattern_char == NT('?') || ascii_upper(c) == ascii_upper(pattern_char);
    row[i] = row[i - 1] && fits;
  }
  row[0] = 0;
}

// A `*` lets the rest of the pattern start at any character from the first
// live position up to the last character of the text (never past it).
void step_star(std::vector<char> *alive, size_t first_alive, size_t length) {
  std::vector<char> &row = *alive;
  for (size_t i = 0; i < length; ++i)
    row[i] = i >= first_alive;
  row[length] = 0;
}

// Index of the first live position, or length + 1 when none is alive.
size_t first_alive_position(const std::vector<char> &alive, size_t length) {
  for (size_t i = 0; i <= length; ++i)
    if (alive[i])
      return i;
  return length + 1;
}

// The pattern's characters taken one by one against every text position
// still possible at once, so that many stars cost time in proportion to the
// pattern's length times the text's, never more.
bool match_positions(const nchar *text, const nchar *pattern) {
  size_t length = text_length(text);
  std::vector<char> alive(length + 1, 0);
  alive[0] = 1;
  for (const nchar *p = pattern; *p; ++p) {
    size_t first = first_alive_position(alive, length);
    if (first > length)
      return false;
    if (*p != NT('*')) {
      step_one_character(&alive, text, length, *p);
      continue;
    }
    // A star reached with the text used up matches whatever follows it, and
    // a final star matches the rest of any text that is left.
    if (alive[length] || p[1] == 0)
      return true;
    step_star(&alive, first, length);
  }
  return alive[length] != 0;
}

// Replaces in place every character of `text` found in `from_set` by the
// character at the same place of `to_set`.
void translate_chars(nchar *text, const nchar *from_set, const nchar *to_set) {
  for (nchar *c = text; *c; ++c) {
    for (size_t i = 0; from_set[i]; ++i) {
      if (*c == from_set[i]) {
        *c = to_set[i];
        break;
      }
    }
  }
}

// True when the whole `text` matches `pattern` (`*`, `?`, ASCII letters
// compared without regard to case).
bool wildcard_match(const nchar *text, const nchar *pattern) {
  if (*pattern == 0)
    return true;
  return match_positions(text, pattern);
}

// Counts the pieces of a list split at `;`; an empty text is one piece.
size_t count_pieces(const nchar *text) {
  size_t pieces = 1;
  for (; *text; ++text)
    if (*text == NT(';'))
      ++pieces;
  return pieces;
}

// The list's buffer: the flag's text without its enclosing double quotes,
// with slashes for backslashes and upper-case ASCII letters.
nchar *copy_list_text(const nchar *text) {
  if (*text == NT('"'))
    ++text;
  size_t length = text_length(text);
  if (length > 0 && text[length - 1] == NT('"'))
    --length;
  nchar *buffer = static_cast<nchar *>(std::malloc((length + 1) * sizeof *buffer));
  if (!buffer)
    return nullptr;
  std::char_traits<nchar>::copy(buffer, text, length);
  buffer[length] = 0;
  translate_chars(buffer, kBackslash, kSlash);
  upper_case(buffer);
  return buffer;
}

} // namespace

ExclusionNode *build_exclusion_list(const nchar *text) {
  nchar *buffer = copy_list_text(text);
  if (!buffer)
    stop_without_memory();
  size_t pieces = count_pieces(buffer);
  ExclusionNode *nodes = static_cast<ExclusionNode *>(std::malloc(pieces * sizeof(ExclusionNode)));
  if (!nodes) {
    std::free(buffer);
    stop_without_memory();
  }
  nchar *piece = buffer;
  for (size_t i = 0; i < pieces; ++i) {
    nodes[i].next = i + 1 < pieces ? &nodes[i + 1] : nullptr;
    nodes[i].pattern = piece;
    while (*piece && *piece != NT(';'))
      ++piece;
    if (*piece)
      *piece++ = 0;
  }
  // A later -x replaces the list; the earlier one is no longer reachable.
  return nodes;
}

void release_exclusion_list(ExclusionNode *nodes) {
  if (!nodes)
    return;
  // The first pattern starts the list's one buffer.
  std::free(const_cast<nchar *>(nodes[0].pattern));
  std::free(nodes);
}

bool is_excluded(const nchar *path) {
  size_t length = text_length(path);
  if (!fits_path_buffer(length))
    length = size_t(kPathMax);
  nchar copy[kPathCapacity];
  std::char_traits<nchar>::copy(copy, path, length);
  copy[length] = 0;
  translate_chars(copy, kBackslash, kSlash);
  upper_case(copy);
  for (const ExclusionNode *node = options.exclusions; node; node = node->next)
    if (wildcard_match(copy, node->pattern))
      return true;
  return false;
}

} // namespace zorov

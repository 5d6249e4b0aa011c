// What every platform layer's text streams share: how the lines of a
// response file are read and handed out, and how a failure is told.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

namespace zorov {

// How a text file's characters are stored, as its first bytes declare.
enum TextEncoding {
  text_bytes,    // no mark: 8-bit text (the ANSI code page on Windows)
  text_utf8,     // a UTF-8 byte-order mark
  text_utf16_le, // a UTF-16 byte-order mark, in either byte order
  text_utf16_be,
};

// A code unit that is no character: the odd last byte of a UTF-16 text.
const char32_t kBrokenUnit = 0x110000;

// Where the reading of one text stream stands.
struct LineReader {
  bool started = false;
  TextEncoding encoding = text_bytes;
  std::string ahead;           // bytes read while looking for a mark, which are text
  long unit_ahead = -1;        // a code unit read ahead and given back, or -1
  bool ended = false;          // a Ctrl-Z ended the text
  bool control_z_ends = false; // an 8-bit text ends at a Ctrl-Z (Windows)
};

namespace text_detail {

template <class Next> int next_byte(LineReader *reader, Next next) {
  if (reader->ahead.empty())
    return next();
  int c = static_cast<unsigned char>(reader->ahead[0]);
  reader->ahead.erase(0, 1);
  return c;
}

// A byte-order mark at the very start says how the text is stored, and is
// no character of it (so not of the first name). Without one, the bytes
// looked at are text.
template <class Next> void read_mark(LineReader *reader, Next next) {
  reader->started = true;
  std::string seen;
  for (int c; seen.size() < 3 && (c = next()) != -1;) {
    seen.push_back(static_cast<char>(c));
    if (seen == "\xFF\xFE" || seen == "\xFE\xFF") {
      reader->encoding = seen[0] == '\xFF' ? text_utf16_le : text_utf16_be;
      return;
    }
    if (seen != "\xEF" && seen != "\xEF\xBB" && seen != "\xFF" && seen != "\xFE")
      break;
  }
  if (seen == "\xEF\xBB\xBF") {
    reader->encoding = text_utf8;
    return;
  }
  reader->ahead = seen;
}

// The next code unit (a byte, or a UTF-16 unit), or -1 at the end.
template <class Next> long next_unit(LineReader *reader, Next next) {
  if (!reader->started)
    read_mark(reader, next);
  if (reader->ended)
    return -1;
  int first = next_byte(reader, next);
  if (first == -1)
    return -1;
  if (reader->encoding == text_utf16_le || reader->encoding == text_utf16_be) {
    int second = next_byte(reader, next);
    if (second == -1)
      return long(kBrokenUnit);
    return reader->encoding == text_utf16_le ? first | second << 8 : first << 8 | second;
  }
  if (first == 0x1A && reader->control_z_ends) {
    reader->ended = true;
    return -1;
  }
  return first;
}

// The next unit with a CR LF read as one line feed.
template <class Next> long next_text_unit(LineReader *reader, Next next) {
  long c = reader->unit_ahead;
  reader->unit_ahead = -1;
  if (c == -1)
    c = next_unit(reader, next);
  if (c == '\r') {
    long following = next_unit(reader, next);
    if (following == '\n')
      return '\n';
    reader->unit_ahead = following;
  }
  return c;
}

} // namespace text_detail

// One line of a text as code units, its line feed kept when it has one;
// no units at the end of the text. A line is always read to its end: the
// units past `keep` are dropped and `cut` says so, for a line that long is
// no name.
struct TextLine {
  std::u32string units;
  bool cut = false;
};

// `next()` gives the stream's next byte, or -1 at its end.
template <class Next> TextLine read_line_units(LineReader *reader, Next next, size_t keep) {
  TextLine line;
  for (long c; (c = text_detail::next_text_unit(reader, next)) != -1;) {
    if (line.units.size() < keep)
      line.units.push_back(char32_t(c));
    else
      line.cut = true;
    if (c == '\n')
      break;
  }
  return line;
}

// The units of a byte text as they are.
inline std::string bytes_of_units(const std::u32string &units) {
  std::string bytes;
  for (char32_t unit : units)
    bytes.push_back(static_cast<char>(unit));
  return bytes;
}

// UTF-8 of UTF-16 units: false for a unit that is no character (a
// surrogate without its pair, a broken unit), which no name can hold.
inline bool utf8_of_utf16(const std::u32string &units, std::string *utf8) {
  utf8->clear();
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    else if ((c >= 0xD800 && c < 0xE000) || c > 0xFFFF)
      return false;
    if (c < 0x80) {
      utf8->push_back(static_cast<char>(c));
      continue;
    }
    int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    utf8->push_back(static_cast<char>(((0xFF00 >> (extra + 1)) & 0xFF) | (c >> (6 * extra))));
    for (int k = extra - 1; k >= 0; --k)
      utf8->push_back(static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F)));
  }
  return true;
}

// The count of bytes that follow a UTF-8 lead byte, or -1 for a byte that
// leads no character.
inline int utf8_following(unsigned char lead) {
  if (lead < 0x80)
    return 0;
  if (lead >= 0xC2 && lead < 0xE0)
    return 1;
  if (lead >= 0xE0 && lead < 0xF0)
    return 2;
  return lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
}

// UTF-16 of UTF-8 text: false for bytes that are no UTF-8 character.
template <class C> bool utf16_of_utf8(const std::string &utf8, std::basic_string<C> *wide) {
  wide->clear();
  for (size_t i = 0; i < utf8.size();) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    int extra = utf8_following(lead);
    if (extra < 0 || i + size_t(extra) >= utf8.size())
      return false;
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      unsigned char follow = static_cast<unsigned char>(utf8[i + size_t(k)]);
      if ((follow & 0xC0) != 0x80)
        return false;
      c = c << 6 | (follow & 0x3F);
    }
    bool shortest = extra < 2 || (extra == 2 ? c >= 0x800 : c >= 0x10000 && c < 0x110000);
    if (!shortest || (c >= 0xD800 && c < 0xE000))
      return false;
    if (c >= 0x10000) {
      wide->push_back(C(0xD800 + ((c - 0x10000) >> 10)));
      wide->push_back(C(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      wide->push_back(C(c));
    }
    i += size_t(extra) + 1;
  }
  return true;
}

// Hands out a line in the caller's buffer of `capacity` characters: the
// count stored, the line feed left out of a line that fills the buffer
// without it; a negative refusal (`too_long`) for a line longer than the
// buffer holds, of which nothing is stored.
template <class C>
int deliver_text_line(const std::basic_string<C> &text, bool cut, C *line, int capacity,
                      int too_long) {
  size_t limit = capacity > 1 ? size_t(capacity - 1) : 0;
  bool has_end = !text.empty() && text.back() == C('\n');
  if (cut || text.size() - (has_end ? 1 : 0) > limit)
    return too_long;
  size_t stored = text.size() < limit ? text.size() : limit;
  text.copy(line, stored);
  line[stored] = C(0);
  return int(stored);
}

// A stream that failed without a reason from the runtime still failed: -1,
// with EIO where errno says nothing.
inline int text_failure() {
  if (errno == 0)
    errno = EIO;
  return -1;
}

} // namespace zorov

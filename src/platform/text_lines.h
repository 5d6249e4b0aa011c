// What every platform layer's text streams share: how the lines of a
// response file are cut, and how a failure is told.
#pragma once

#include <cerrno>
#include <string>

namespace zorov {

// One line of at most `capacity - 1` bytes, its line feed kept when it fits;
// a longer line comes in pieces. The line end of a line that exactly fills
// the buffer belongs to it, so that it never reads as an empty line of its
// own. `next()` gives the text's next byte, a CR LF read as one line feed,
// or -1 at the end; `give_back(c)` keeps a byte read ahead for the next
// line.
template <class Next, class GiveBack>
std::string cut_text_line(int capacity, Next next, GiveBack give_back) {
  std::string line;
  size_t limit = capacity > 1 ? size_t(capacity - 1) : 0;
  int c = -1;
  while (line.size() < limit && (c = next()) != -1) {
    line.push_back(char(c));
    if (c == '\n')
      return line;
  }
  if (line.size() == limit && c != -1) {
    int following = next();
    if (following != '\n' && following != -1)
      give_back(following);
  }
  return line;
}

// A stream that failed without a reason from the runtime still failed: -1,
// with EIO where errno says nothing.
inline int text_failure() {
  if (errno == 0)
    errno = EIO;
  return -1;
}

} // namespace zorov

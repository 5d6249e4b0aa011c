#include "platform/made_names.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace zorov {

namespace {

// Fresh names tried beside the name before giving up: only a name someone
// planted, or a rare repeat of the generator, is ever taken.
const int kFreshNameAttempts = 16;

// A name beside `name` that nobody can guess: the name, a full stop and
// eight hexadecimal digits.
nstring fresh_name(const nchar *name) {
  char digits[10];
  std::snprintf(digits, sizeof digits, ".%08x", unsigned(random_number()));
  return nstring(name) + nstring(digits, digits + sizeof digits - 1);
}

} // namespace

TextStream *create_text_in_place(const nchar *name) {
  if (name_standing(name) == name_refused)
    return nullptr;
  for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
    TextStream *stream = create_new_text_over(fresh_name(name).c_str(), name);
    if (stream || errno != EEXIST)
      return stream;
  }
  return nullptr;
}

} // namespace zorov

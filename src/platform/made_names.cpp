#include "platform/made_names.h"

#include "platform/path_syntax.h"
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
// eight hexadecimal digits, the name shortened where the digits would make
// it longer than a name may be, so that a file the user's name fits is
// never refused for the name it is made under.
nstring fresh_name(const nchar *name) {
  char digits[10];
  std::snprintf(digits, sizeof digits, ".%08x", unsigned(random_number()));
  nstring full = name;
  nstring final_part = file_name_part(full, native_path_style);
  return fitted_name(full.substr(0, full.size() - final_part.size()), final_part,
                     nstring(digits, digits + sizeof digits - 1), nstring(), native_path_style);
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

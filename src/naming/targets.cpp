#include "naming/targets.h"

#include "cli/base/error_level.h"
#include "naming/sources.h"
#include "platform/path_syntax.h"

namespace zorov {

namespace {

bool is_target_keyword(const nchar *argument) {
  static const char keyword[] = "-TO";
  for (int i = 0; i < 3; ++i) {
    if (ascii_upper(argument[i]) != nchar(keyword[i]))
      return false;
  }
  return argument[3] == 0;
}

} // namespace

int find_target_keyword(int argc, nchar **argv, int first_operand) {
  for (int index = first_operand + 1; index <= argc - 2; ++index)
    if (is_target_keyword(argv[index]))
      return index;
  return 0;
}

bool next_target(nstring *name, int argc, nchar **argv, TargetCursor *cursor) {
  for (;;) {
    if (cursor->list_file) {
      // The list was opened by the operand just taken, an `@name`.
      const nchar *list_name = argv[cursor->next - 1] + 1;
      int result = read_response_line(cursor->list_file, list_name, name);
      if (result > 0)
        return true;
      if (result < 0) {
        cursor->error = level_stopped;
        continue;
      }
      close_text(cursor->list_file);
      cursor->list_file = nullptr;
    }
    if (cursor->next >= argc)
      return false;
    *name = argv[cursor->next];
    cursor->next += 1;
    if (name->empty() || (*name)[0] != NT('@'))
      return true;
    cursor->list_file = open_text(name->c_str() + 1, text_read);
    if (!cursor->list_file)
      return true;
  }
}

} // namespace zorov

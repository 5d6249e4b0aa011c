// Makes a shell's completion script from its template and the flag
// parser's own table of spellings, so that the completion offers exactly
// the flags the program takes. The template's "@FLAGS@" becomes the
// spellings, separated by blanks.
//
// usage: zorov_shell_completion TEMPLATE OUTPUT
//        zorov_shell_completion --flags     (the spellings, one a line)
#include "cli/flags.h"

#include <cstdio>
#include <string>

namespace {

bool read_file(const char *name, std::string *text) {
  std::FILE *in = std::fopen(name, "rb");
  if (!in)
    return false;
  char block[4096];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, in)) > 0)
    text->append(block, got);
  bool failed = std::ferror(in) != 0;
  return std::fclose(in) == 0 && !failed;
}

bool write_file(const char *name, const std::string &text) {
  std::FILE *out = std::fopen(name, "wb");
  if (!out)
    return false;
  bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && written;
}

int list_flags() {
  std::string lines = zorov::flag_spellings();
  for (char &c : lines)
    if (c == ' ')
      c = '\n';
  std::printf("%s\n", lines.c_str());
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 2 && std::string(argv[1]) == "--flags")
    return list_flags();
  if (argc != 3) {
    std::fprintf(stderr, "usage: zorov_shell_completion TEMPLATE OUTPUT\n");
    return 2;
  }
  std::string script;
  if (!read_file(argv[1], &script)) {
    std::perror(argv[1]);
    return 1;
  }
  const std::string placeholder = "@FLAGS@";
  size_t at = script.find(placeholder);
  if (at == std::string::npos) {
    std::fprintf(stderr, "%s: no %s in the template\n", argv[1], placeholder.c_str());
    return 1;
  }
  script.replace(at, placeholder.size(), zorov::flag_spellings());
  if (!write_file(argv[2], script)) {
    std::perror(argv[2]);
    return 1;
  }
  return 0;
}

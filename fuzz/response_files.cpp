// Fuzz target: response-file reading, for sources and for targets, through
// the real platform layer. The input is written to a list file in the
// current directory, then read once as the source list of `@list` and once
// as the target list. Every name must fit a path buffer and hold no line
// feed; the list must come back line for line (empty lines name the
// current directory as targets and are passed over as sources), but for
// lines refused whole, which give no name at all.
#include "naming/sources.h"
#include "naming/targets.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace zorov;

const char kListName[] = "fuzz-response.lst";

void fail(const char *kind, const char *what) {
  std::fprintf(stderr, "response files fuzz target, %s list: %s\n", kind, what);
  std::abort();
}

bool write_list(const uint8_t *data, size_t size) {
  std::FILE *file = std::fopen(kListName, "wb");
  if (!file)
    return false;
  bool written = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

// The names of the list as the rules read them: its lines, but for those
// refused whole (a NUL, longer than a name); false for a UTF-16 list. A
// UTF-8 byte-order mark is no part of the first line.
bool plain_lines(const uint8_t *data, size_t size, std::vector<nstring> *lines) {
  std::string text(reinterpret_cast<const char *>(data), size);
  if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0)
    return false;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
    text.erase(0, 3);
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
    text.erase(at, 1);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (line.find('\0') == std::string::npos && line.size() <= size_t(kPathMax))
      lines->push_back(nstring(line.begin(), line.end()));
  }
  return true;
}

std::vector<nstring> source_names() {
  nchar program[] = NT("zorov");
  nchar operand[] = NT("@fuzz-response.lst");
  nchar target[] = NT("x");
  nchar *argv[] = {program, operand, target, nullptr};
  SourceCursor cursor;
  cursor.next = 1;
  std::vector<nstring> names;
  nstring name;
  while (next_source(&name, 2, argv, &cursor))
    names.push_back(name);
  if (cursor.list_file || cursor.wildcard_active)
    fail("source", "the enumeration ended in the middle of something");
  return names;
}

std::vector<nstring> target_names() {
  nchar program[] = NT("zorov");
  nchar operand[] = NT("@fuzz-response.lst");
  nchar *argv[] = {program, operand, nullptr};
  TargetCursor cursor;
  cursor.next = 1;
  std::vector<nstring> names;
  nstring name;
  while (next_target(&name, 2, argv, &cursor))
    names.push_back(name);
  if (cursor.list_file)
    fail("target", "the list was left open");
  return names;
}

void check_names(const char *kind, const std::vector<nstring> &names) {
  for (const nstring &name : names) {
    if (!fits_path_buffer(name))
      fail(kind, "a name longer than a path buffer");
    if (name.find(NT('\n')) != nstring::npos)
      fail(kind, "a name with a line feed");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (!write_list(data, size))
    return -1;
  std::vector<nstring> sources = source_names();
  std::vector<nstring> targets = target_names();
  check_names("source", sources);
  check_names("target", targets);
  std::vector<nstring> lines;
  if (!plain_lines(data, size, &lines))
    return 0;
  if (targets != lines)
    fail("target", "the names differ from the lines");
  std::vector<nstring> non_empty;
  for (const nstring &line : lines)
    if (!line.empty())
      non_empty.push_back(line);
  if (sources != non_empty)
    fail("source", "the names differ from the lines");
  return 0;
}

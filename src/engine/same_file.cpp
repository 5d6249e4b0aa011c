#include "engine/same_file.h"

#include "engine/block_copy.h"
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

// The code point at `*at` (UTF-8 on POSIX, UTF-16 units on Windows); `*at`
// moves past it.
uint32_t next_code_point(const nstring &text, size_t *at) {
  uint32_t lead = unit_at(text, *at);
  *at += 1;
  if (sizeof(nchar) > 1 || lead < 0x80)
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
  *at += more;
  return value;
}

// The small letter of a capital one, for the alphabets whose case folding
// file systems commonly apply: Latin (with Latin-1 and Latin Extended-A),
// Greek and Cyrillic.
uint32_t small_letter(uint32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
      (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F))
    return c + 32;
  if (c >= 0x400 && c <= 0x40F)
    return c + 80;
  if (c == 0x178)
    return 0xFF;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
    return c | 1u;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
    return (c & 1u) ? c + 1 : c;
  return c;
}

// Where the final component of `name` begins.
size_t final_component_start(const nstring &name) {
  size_t start = size_t(drive_prefix_length(name, native_path_style));
  for (size_t i = start; i < name.size(); ++i)
    if (is_separator(name[i], native_path_style))
      start = i + 1;
  return start;
}

nstring directory_or_current(const nstring &directory) {
  return directory.empty() ? nstring(NT(".")) : directory;
}

bool same_directory(const nstring &first, const nstring &second) {
  FileStatus one, other;
  if (file_status(directory_or_current(first).c_str(), &one) != 0 ||
      file_status(directory_or_current(second).c_str(), &other) != 0)
    return false;
  return one.device == other.device && one.file_index == other.file_index;
}

// Whether `directory` holds an entry of exactly `name`, byte for byte.
bool lists_entry(const nstring &directory, const nstring &name) {
  DirectoryEntry entry;
  DirectorySearch *search = search_first((directory + name).c_str(), &entry);
  bool found = false;
  for (int more = search ? 1 : 0; more && !found; more = search_next(search, &entry))
    found = entry.name == name;
  if (search)
    search_close(search);
  return found;
}

// A file system that folds letter case may give each spelling of a name an
// identity of its own; the directory's own listing tells the spellings
// apart from files of their own.
bool is_case_spelling(const nstring &source_file, const nstring &destination) {
  size_t source_cut = final_component_start(source_file);
  size_t destination_cut = final_component_start(destination);
  nstring destination_name = destination.substr(destination_cut);
  if (!differ_only_in_case(source_file.substr(source_cut), destination_name))
    return false;
  nstring directory = destination.substr(0, destination_cut);
  return same_directory(source_file.substr(0, source_cut), directory) &&
         !lists_entry(directory, destination_name);
}

nstring holding_file(const nchar *source) {
  nstring name(source);
  return name.substr(0, stream_colon(name, native_path_style));
}

} // namespace

bool differ_only_in_case(const nstring &first, const nstring &second) {
  if (first == second)
    return false;
  size_t i = 0, j = 0;
  while (i < first.size() && j < second.size())
    if (small_letter(next_code_point(first, &i)) != small_letter(next_code_point(second, &j)))
      return false;
  return i == first.size() && j == second.size();
}

bool is_same_file(const nchar *source, const FileStatus &source_status, const nchar *destination,
                  const FileStatus &destination_status) {
  if (same_file_name(source, destination, native_path_style))
    return true;
  // An identity the platform could not read is no identity.
  bool known = source_status.device != 0 || source_status.file_index != 0;
  if (known && source_status.device == destination_status.device &&
      source_status.file_index == destination_status.file_index)
    return true;
  return is_case_spelling(holding_file(source), destination);
}

bool names_same_file(const nchar *source, const nchar *destination) {
  FileStatus source_status, destination_status;
  if (file_status(holding_file(source).c_str(), &source_status) != 0 ||
      file_status(destination, &destination_status) != 0)
    return same_file_name(source, destination, native_path_style);
  return is_same_file(source, source_status, destination, destination_status);
}

} // namespace zorov

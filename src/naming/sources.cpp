// Source enumeration: the source operands become a stream of names, with
// response files read line by line and wildcard patterns expanded to the
// files they match.
#include "naming/sources.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "naming/path_probe.h"
#include "platform/path_syntax.h"

#include <cerrno>

namespace zorov {

namespace {

// A name no path buffer holds is refused whole rather than cut into some
// other name; the source is then not copied.
void refuse_long_name(const nstring &name, SourceCursor *cursor) {
  report_output("%ls: Name too long.\n", name.c_str());
  cursor->result = 1;
}

// Only files are matches, and hidden or system ones only when asked for.
bool passed_over(const DirectoryEntry &entry) {
  if ((entry.attributes & attribute_directory) != 0)
    return true;
  return !options.copy_hidden && (entry.attributes & (attribute_hidden | attribute_system)) != 0;
}

void end_scan(WildcardScan *scan) {
  if (scan->search)
    search_close(scan->search);
  scan->search = nullptr;
  scan->result.clear();
}

// A directory that can't be read leaves its matches out of the copy: that
// is a failure, reported with the system's reason, never a silent skip.
void report_unreadable(const nstring &pattern, int error_number, SourceCursor *cursor) {
  PathParts<nchar> parts = split_path(pattern, native_path_style);
  nstring directory = parts.drive + parts.directory;
  nstring full;
  if (resolve_full_path(directory.c_str(), &full) != 0)
    full = directory;
  // The directory's own name, not its "/" form.
  drop_trailing_separator(&full, native_path_style);
  report_unreadable_directory(full, error_number);
  cursor->result = 1;
}

// True with the next entry of the running search.
bool next_match(WildcardScan *scan, DirectoryEntry *entry, SourceCursor *cursor) {
  int found = search_next(scan->search, entry);
  if (found < 0)
    report_unreadable(scan->drive + scan->directory, errno, cursor);
  return found > 0;
}

// Goes on from `entry` (when `found`) to the first entry that is a match;
// the empty name when the search runs out.
const nstring &scan_matches(WildcardScan *scan, DirectoryEntry *entry, bool found,
                            SourceCursor *cursor) {
  for (; found; found = next_match(scan, entry, cursor)) {
    if (passed_over(*entry))
      continue;
    // No separator after an empty directory part: "*.c" matches "a.c", not
    // "/a.c", and "C:*.c" stays relative to the drive's current directory.
    scan->result = scan->drive + scan->directory;
    if (!scan->directory.empty() && !ends_with_separator(scan->directory, native_path_style))
      scan->result += NT('/');
    scan->result += entry->name;
    if (fits_path_buffer(scan->result))
      return scan->result;
    refuse_long_name(scan->result, cursor);
  }
  end_scan(scan);
  return scan->result;
}

// Starts the expansion of `pattern`; its first match or the empty name.
const nstring &wildcard_first(WildcardScan *scan, const nstring &pattern, SourceCursor *cursor) {
  end_scan(scan);
  PathParts<nchar> parts = split_path(pattern, native_path_style);
  scan->drive = parts.drive;
  scan->directory = parts.directory;
  DirectoryEntry entry;
  scan->search = search_first(pattern.c_str(), &entry);
  // No match, or no such directory, is no failure: the pattern is dropped.
  if (!scan->search && errno != ENOENT && errno != ENOTDIR)
    report_unreadable(pattern, errno, cursor);
  return scan_matches(scan, &entry, scan->search != nullptr, cursor);
}

// The next match of the running expansion, or the empty name.
const nstring &wildcard_next(WildcardScan *scan, SourceCursor *cursor) {
  DirectoryEntry entry;
  bool found = scan->search && next_match(scan, &entry, cursor);
  return scan_matches(scan, &entry, found, cursor);
}

// The next name of a source response file; false at its end. Lines are
// taken literally. An empty line names nothing and is skipped. A refused
// line is not copied, so the run must not end as if it had been.
bool read_list_line(TextStream *list, const nchar *list_name, nstring *name, SourceCursor *cursor) {
  for (;;) {
    int result = read_response_line(list, list_name, name);
    if (result == 0)
      return false;
    if (result < 0)
      cursor->result = 1;
    if (result > 0 && !name->empty())
      return true;
  }
}

// An `@name` operand: its response file is opened, or the operand is a
// source of that literal name when something of that name exists. True
// when `name` holds a source to return.
bool open_source_list(const nstring &operand, nstring *name, TextStream **source_list_file) {
  *source_list_file = open_text(operand.c_str() + 1, text_read);
  if (*source_list_file)
    return false;
  if (probe_path(operand.c_str()) != 0) {
    *name = operand;
    return true;
  }
  report_output("%ls: Unable to open response file\n", operand.c_str() + 1);
  return false;
}

// Takes one operand. True when `name` holds a source to return; false when
// the operand was dropped or started a response file.
bool take_operand(const nstring &operand, nstring *name, SourceCursor *cursor) {
  if (!fits_path_buffer(operand)) {
    refuse_long_name(operand, cursor);
    return false;
  }
  if (!operand.empty() && operand[0] == NT('@'))
    return open_source_list(operand, name, &cursor->list_file);
  if (!has_wildcard(operand, native_path_style)) {
    *name = operand;
    return true;
  }
  *name = wildcard_first(&cursor->scan, operand, cursor);
  cursor->wildcard_active = !name->empty();
  return cursor->wildcard_active;
}

} // namespace

int read_response_line(TextStream *list, const nchar *list_name, nstring *line) {
  nchar text[kPathCapacity];
  int length = read_text_line(list, text, kPathCapacity);
  if (length == 0)
    return 0;
  if (length == text_line_unreadable) {
    // The rest of the list is lost: it can't pass for a list that ended.
    line->clear();
    report_output("%ls: Unable to read response file.  %s\n", list_name, error_text(errno).c_str());
    return -1;
  }
  const char *refusal = nullptr;
  if (length == text_line_too_long)
    refusal = "%ls: A line of this response file is too long to be a name; passed over.\n";
  else if (length == text_line_not_text)
    refusal = "%ls: A line of this response file is not text of its encoding; passed over.\n";
  else if (length < 0)
    return 0;
  else
    line->assign(text, size_t(length));
  if (!refusal && line->find(nchar(0)) != nstring::npos)
    refusal = "%ls: A line of this response file holds a NUL byte; passed over.\n";
  if (refusal) {
    line->clear();
    report_output(refusal, list_name);
    return -1;
  }
  if (!line->empty() && line->back() == NT('\n'))
    line->pop_back();
  return 1;
}

bool next_source(nstring *name, int operand_end, nchar **argv, SourceCursor *cursor) {
  for (;;) {
    if (cursor->list_file) {
      // The list was opened by the operand just taken, an `@name`.
      const nchar *list_name = argv[cursor->next - 1] + 1;
      if (read_list_line(cursor->list_file, list_name, name, cursor))
        return true;
      close_text(cursor->list_file);
      cursor->list_file = nullptr;
    }
    if (cursor->wildcard_active) {
      *name = wildcard_next(&cursor->scan, cursor);
      if (!name->empty())
        return true;
      cursor->wildcard_active = false;
    }
    if (cursor->next >= operand_end)
      return false;
    nstring operand = argv[cursor->next];
    cursor->next += 1;
    if (take_operand(operand, name, cursor))
      return true;
  }
}

} // namespace zorov

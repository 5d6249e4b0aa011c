// The help screen: the manual goes to a file in the temporary directory,
// which is shown in the system's viewer, and to standard output where no
// viewer can show it; the run then ends with 8.
#include "cli/help.h"

#include "cli/base/error_level.h"
#include "cli/base/messages.h"
#include "cli/manual_text.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <string>

namespace zorov {

namespace {

// The help file's name: the temporary directory, a separator unless the
// directory already ends in the one the platform appends, and "zorov.hlp".
bool help_file_name(nstring *name) {
  nstring directory = help_directory();
  const nchar separator = preferred_separator<nchar>(native_path_style);
  *name = directory;
  if (name->empty() || name->back() != separator)
    name->push_back(separator);
  *name += NT("zorov.hlp");
  return fits_path_buffer(*name);
}

void append_lines(std::string *text, TextLines lines) {
  for (size_t index = 0; index < lines.count; index++)
    *text += lines.lines[index];
}

// The help text, whole: the banner, the notice and the manual.
std::string help_text() {
  const ManualText &manual = manual_text();
  std::string text = std::string(manual.banner) + manual.notice;
  for (TextLines part : {manual.usage, manual.description, manual.flag_summary, manual.flags,
                         manual.closing, manual.returns})
    append_lines(&text, part);
  return text;
}

// The temporary directory is usually shared: the manual goes to a file of
// the program's own that takes the help file's place, never through a link
// or over another user's file. True when the help file holds the manual.
// A help file cut short (a full disk) would show half a manual as if it
// were whole: it is removed and reported as one that can't be opened.
bool write_help_file(const nstring &name, const std::string &text) {
  TextStream *file = create_text_in_place(name.c_str());
  if (!file)
    return false;
  bool whole = write_text(file, text.data(), text.size()) == 0;
  if (close_text(file) != 0)
    whole = false;
  if (!whole)
    remove_file(name.c_str());
  return whole;
}

} // namespace

void show_help() {
  nstring name;
  const std::string text = help_text();
  bool written = false;
  if (help_file_name(&name)) {
    written = write_help_file(name, text);
    if (!written)
      print_error("Unable to Open %ls\n", name.c_str());
  } else {
    print_error("%ls: Name too long.\n", name.c_str());
  }
  close_logs();
  // Where no viewer can show the file (output to a pipe or a file), the
  // text itself goes to standard output. A help file that could not be
  // written (another user's file at its name) must not cost the user the
  // help: the text goes to the viewer itself, or to standard output.
  if (help_text_to_output() || (!written && !show_help_text(text)))
    print_output("%s", text.c_str());
  if (written)
    show_help_file(name.c_str());
  exit_process(level_stopped);
}

} // namespace zorov

// The help screen: the manual goes to a file in the temporary directory,
// which is shown in the system's viewer; the run then ends with 8.
#include "cli/help.h"

#include "cli/manual_text.h"
#include "cli/messages.h"
#include "platform/platform.h"

#include <string>

namespace zorov {

namespace {

// The help file's name: the temporary directory, a separator unless the
// directory already ends in the one the platform appends, and "zorov.hlp".
bool help_file_name(nstring *name) {
  nstring directory = help_directory();
  const nchar separator = native_path_style == path_style_windows ? NT('\\') : NT('/');
  *name = directory;
  if (name->empty() || name->back() != separator)
    name->push_back(separator);
  *name += NT("zorov.hlp");
  return name->size() <= size_t(kPathMax);
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

} // namespace

void show_help() {
  nstring name;
  TextStream *file = nullptr;
  if (help_file_name(&name))
    file = open_text(name.c_str(), text_replace);
  else
    print_error("%ls: Name too long.\n", name.c_str());
  const std::string text = help_text();
  if (file)
    write_text(file, text.data(), text.size());
  else if (name.size() <= size_t(kPathMax))
    print_error("Unable to Open %ls\n", name.c_str());
  close_logs();
  // Where no viewer can show the file (output to a pipe or a file), the
  // text itself goes to standard output.
  if (help_text_to_output())
    print_output("%s", text.c_str());
  if (file) {
    close_text(file);
    show_help_file(name.c_str());
  }
  exit_process(8);
}

} // namespace zorov

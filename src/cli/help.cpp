// The help screen: the manual goes to a file in the temporary directory,
// which is shown in the system's viewer; the run then ends with 8.
#include "cli/help.h"

#include "cli/manual_text.h"
#include "cli/messages.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"

#include <cerrno>
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

// Fresh names tried beside the help file before giving up.
const int kFreshNameAttempts = 16;

// A name beside the help file that nobody can guess: the help file's name, a
// full stop and eight hexadecimal digits.
nstring fresh_name(const nstring &name) {
  std::string digits = format_text(".%08x", random_number());
  return name + nstring(digits.begin(), digits.end());
}

// The temporary directory is usually shared: the manual is written to a new
// file made exclusively under a fresh name, which then takes the help
// file's place. A help file name that is a link, or another user's file, is
// never written through or replaced. True when the help file holds the
// manual.
bool write_help_file(const nstring &name, const std::string &text) {
  if (name_standing(name.c_str()) == name_refused)
    return false;
  for (int attempt = 0; attempt < kFreshNameAttempts; ++attempt) {
    nstring fresh = fresh_name(name);
    if (!fits_path_buffer(fresh))
      return false;
    FileIdentity made;
    TextStream *file = create_new_text(fresh.c_str(), &made);
    if (!file && errno == EEXIST)
      continue;
    if (!file)
      return false;
    write_text(file, text.data(), text.size());
    close_text(file);
    // In a sticky directory another user's file refuses the rename.
    if (rename_made_file(fresh.c_str(), name.c_str(), made) == 0)
      return true;
    remove_file(fresh.c_str());
    return false;
  }
  return false;
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
  // text itself goes to standard output.
  if (help_text_to_output())
    print_output("%s", text.c_str());
  if (written)
    show_help_file(name.c_str());
  exit_process(8);
}

} // namespace zorov

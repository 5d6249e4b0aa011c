// Makes the manual page zorov.1 from the very strings the help screen
// writes, so that the page and the help can never differ. The sections the
// help has no text for (exit status, files, environment, notes) are kept
// here.
//
// usage: zorov_manual_page OUTPUT
#include "cli/manual_text.h"
#include "version.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using zorov::TextLines;

// The lines of a part of the manual: its strings joined and split at their
// line ends.
std::vector<std::string> lines_of(TextLines part) {
  std::string text;
  for (size_t index = 0; index < part.count; index++)
    text += part.lines[index];
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size())
    lines.push_back(text.substr(start));
  return lines;
}

std::string trimmed(const std::string &text) {
  const char *blank = " \t";
  size_t first = text.find_first_not_of(blank);
  if (first == std::string::npos)
    return "";
  return text.substr(first, text.find_last_not_of(blank) - first + 1);
}

// Text that roff prints as it stands: backslashes and minus signs escaped,
// tabs as blanks, and a leading period or quote kept from reading as a
// request.
std::string roff(const std::string &text) {
  std::string out;
  if (!text.empty() && (text[0] == '.' || text[0] == '\''))
    out = "\\&";
  for (char c : text) {
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else if (c == '\t')
      out += ' ';
    else
      out += c;
  }
  return out;
}

// Filled paragraphs; an empty line of the help starts a new one.
void paragraphs(std::string *page, const std::vector<std::string> &lines) {
  bool started = false;
  bool pending_break = false;
  for (const std::string &line : lines) {
    std::string text = trimmed(line);
    if (text.empty()) {
      pending_break = started;
      continue;
    }
    if (pending_break)
      *page += ".PP\n";
    pending_break = false;
    started = true;
    *page += roff(text) + "\n";
  }
}

// The usage forms ("zorov [flags] ... -or-"), the program's name in bold,
// then the short list of flags as the help lays it out.
void synopsis(std::string *page, const zorov::ManualText &manual) {
  *page += ".SH SYNOPSIS\n";
  const std::string alternative = " -or-";
  for (const std::string &line : lines_of(manual.usage)) {
    std::string form = trimmed(line);
    if (form.empty() || form.back() == ':')
      continue;
    if (form.size() > alternative.size() &&
        form.compare(form.size() - alternative.size(), alternative.size(), alternative) == 0)
      form = trimmed(form.substr(0, form.size() - alternative.size()));
    size_t name_end = form.find(' ');
    *page += ".br\n.B " + roff(form.substr(0, name_end)) + "\n";
    if (name_end != std::string::npos)
      *page += roff(form.substr(name_end + 1)) + "\n";
  }
  *page += ".PP\n.nf\n";
  for (const std::string &line : lines_of(manual.flag_summary)) {
    std::string text = trimmed(line);
    if (!text.empty() && text.back() != ':')
      *page += roff(text) + "\n";
  }
  *page += ".fi\n";
}

// One tagged paragraph per flag: an entry starts with its spelling at the
// margin, up to "--" (or the first blank where there is none), and goes on
// with the indented lines that follow.
void options(std::string *page, const zorov::ManualText &manual) {
  *page += ".SH OPTIONS\n";
  for (const std::string &line : lines_of(manual.flags)) {
    if (line.empty() || line[0] != '-') {
      if (!trimmed(line).empty())
        *page += roff(trimmed(line)) + "\n";
      continue;
    }
    size_t dashes = line.find("--", 1);
    size_t term_end = dashes != std::string::npos ? dashes : line.find_first_of(" \t");
    size_t body_start = dashes != std::string::npos ? dashes + 2 : term_end;
    *page += ".TP\n\\fB" + roff(trimmed(line.substr(0, term_end))) + "\\fR\n";
    if (term_end != std::string::npos && !trimmed(line.substr(body_start)).empty())
      *page += roff(trimmed(line.substr(body_start))) + "\n";
  }
}

struct Tagged {
  const char *tag; // set in bold
  const char *text;
};

void tagged(std::string *page, std::initializer_list<Tagged> items) {
  for (const Tagged &item : items)
    *page += std::string(".TP\n.B ") + item.tag + "\n" + item.text + "\n";
}

void exit_status(std::string *page, const zorov::ManualText &manual) {
  *page += ".SH EXIT STATUS\n";
  paragraphs(page, lines_of(manual.returns));
  tagged(page,
         {
             {"0", "Every file was copied or deliberately passed over, and every target could "
                   "be used."},
             {"1", "A file failed to copy (a later good copy doesn't clear this)."},
             {"8", "The help was shown; a malformed \\-x; no memory for the copy buffers; or a "
                   "target that could not be resolved or created."},
             {"9", "A target that must be a directory is not one."},
             {"12", "Unknown or conflicting flags; nothing was copied."},
             {"128+n", "Stopped by signal n (SIGINT, SIGTERM or SIGHUP): the logs keep every "
                       "complete line, a temporary copy is removed, and the destination it was "
                       "to replace is left as it was."},
         });
}

void files(std::string *page) {
  *page += ".SH FILES\n";
  tagged(page,
         {
             {"zorov.hlp", "The help file, written to the temporary directory (see "
                           "ENVIRONMENT) whenever the operands are missing; a later run "
                           "replaces it."},
             {"logfi", "The results log of \\-l\\fIlogfi\\fR or \\-L\\fIlogfi\\fR; appended to."},
             {"logfi.fil", "The list of copied files of \\-L\\fIlogfi\\fR, one name per line; "
                           "replaced on each run."},
         });
}

void environment(std::string *page) {
  *page += ".SH ENVIRONMENT\n";
  tagged(page,
         {
             {"TMP", "The directory of the help file, spelled in upper or lower case."},
             {"TEMP", "The directory of the help file when TMP is not set (either case)."},
             {"TMPDIR", "The directory of the help file when neither TMP nor TEMP is set; else "
                        "/tmp. An empty value names no directory."},
             {"PAGER", "The program that shows the help file when standard output is a "
                       "terminal; when it is not set, less, else more. When standard output is "
                       "not a terminal, the help text is written to it instead."},
         });
}

// The rules by which the program stands in for Windows notions on POSIX.
const char *const kPosixNotes[] = {
    "On POSIX, / is the only separator: there are no drive prefixes and no streams, and \\e "
    "and : are ordinary characters of a name. A flag begins with \\- only; an argument "
    "beginning with / is a path.",
    "Names are the bytes the system gives, printed unchanged and compared exactly (letter case "
    "matters). Wildcards match byte for byte, except that *.* matches every name; directory "
    "entries are taken in byte-wise sorted order.",
    "A file whose name begins with a dot is hidden: wildcard and directory copies pass over it "
    "unless \\-h is given (\\-s still walks such directories).",
    "A file whose owner-write bit is clear is read-only; without \\-o it is not overwritten, "
    "even by root, and \\-o adds the owner-write bit first.",
    "A new copy gets its source's permission bits less the umask (\\-h+: exactly) and its "
    "access and modification times.",
    "\\-w reads the file version of Windows executables from their version resource; any other "
    "file has version 0.0.",
    "\\-f uses the kernel's whole-file copy and carries extended attributes, permission bits "
    "and times.",
    "Limits of 259 characters read 4095 bytes. The log, the list of copied files and the help "
    "file have LF line ends.",
    "On a terminal the progress window is the terminal's title and progress indicator.",
    "A copy killed outright (SIGKILL, power loss) can leave a partial destination that looks "
    "current; \\-os and \\-c are the remedy.",
};

void notes(std::string *page) {
  *page += ".SH NOTES\n";
  bool first = true;
  for (const char *note : kPosixNotes) {
    if (!first)
      *page += ".PP\n";
    first = false;
    *page += std::string(note) + "\n";
  }
}

std::string manual_page() {
  const zorov::ManualText &manual = zorov::manual_text();
  std::string page = ".\\\" Made by the build from the help screen's text; do not edit.\n";
  page += std::string(".TH ZOROV 1 \"") + zorov::release_date + "\" \"zorov " +
          zorov::version_text + "\" \"User Commands\"\n";
  // No word is split: flags and names are searched for as they stand.
  page += ".nh\n";
  page += ".SH NAME\nzorov \\- copy files and directory trees: only newer or changed ones, "
          "safely, with backups and resume\n";
  synopsis(&page, manual);
  page += ".SH DESCRIPTION\n";
  paragraphs(&page, lines_of(manual.description));
  page += ".PP\n";
  paragraphs(&page, lines_of(manual.closing));
  options(&page, manual);
  exit_status(&page, manual);
  files(&page);
  environment(&page);
  notes(&page);
  page += ".SH COPYRIGHT\n";
  page += roff(zorov::licence_line) + "\n.PP\n";
  paragraphs(&page, lines_of(TextLines{&manual.notice, 1}));
  return page;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zorov_manual_page OUTPUT\n");
    return 2;
  }
  const std::string page = manual_page();
  std::FILE *out = std::fopen(argv[1], "wb");
  if (!out || std::fwrite(page.data(), 1, page.size(), out) != page.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

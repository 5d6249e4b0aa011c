// Makes the manual page zorov.1 from the very strings the help screen
// writes, so that the page and the help can never differ. What the help has
// no text for is kept here: the flags it leaves out, the exit status, the
// files, the environment, what differs on POSIX systems, examples and
// related commands.
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

// The spellings the parser takes that the help doesn't describe.
void more_options(std::string *page) {
  *page += ".PP\nThe help leaves these out:\n";
  tagged(page,
         {
             {"\\-d", "Report the copy buffers: when they are set up, standard error gets "
                      "their size, their number and their total size."},
             {"\\-rc", "Like \\-cr: replace existing files only, and only when they changed."},
             {"\\-rn", "Like \\-nr: replace existing files only, and only with newer ones."},
             {"\\-x \\fIlist\\fP", "The exclusion list as the next argument, whatever it "
                                   "begins with (\\-x \\(aq*.tmp\\(aq)."},
             {"\\-x=\\fIlist\\fP", "The exclusion list in the same argument. The patterns, "
                                   "separated by ;, are matched against the whole source name "
                                   "without regard to letter case; a later \\-x replaces an "
                                   "earlier list. Any other text after \\-x (\\-x*.tmp) stops "
                                   "the run with exit status 8."},
             {"\\-l=\\fIlogfi\\fP, \\-L=\\fIlogfi\\fP",
              "The name of the log may also follow an = sign."},
         });
  *page += ".PP\nFlag letters may be typed in either case, except that \\-L and \\-l differ. "
           "Flags come before the operands: the first argument that doesn't begin with "
           "\\- is the first source, and what follows it is never read as a flag. Among the "
           "operands, \\-to separates the sources from the targets; before the first source "
           "it is read as \\-t.\n";
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

// What the help says of Windows only, as it is on POSIX systems, then the
// rules by which the program stands in for Windows notions there.
void posix_systems(std::string *page) {
  *page += ".SH POSIX SYSTEMS\n"
           "The help describes the program on Windows. On POSIX systems:\n";
  tagged(
      page,
      {
          {"Files larger than 2GB",
           "are copied whole, by both copy paths: sizes and offsets are 64-bit, and the "
           "help's warning doesn't apply."},
          {"\\-b", "does not force all messages to standard output. It stops the spinning bar and "
                   "the running percentage of the buffered copy (that of \\-f stays), and sends "
                   "\\(lqtarget not a directory\\(rq and \\(lqInsufficient Memory\\(rq to "
                   "standard output instead of standard error. The lines of the copied files and "
                   "their reports are on standard output with or without \\-b; the flags' "
                   "messages and the report of \\-d stay on standard error."},
          {"\\-f", "is not Windows-only: it copies with the kernel's whole-file copy "
                   "(copy_file_range, or reads and writes where that can't be used) and carries "
                   "the extended attributes, the permission bits and the times. There is no Verify "
                   "option; with \\-f the pacing (\\-i, \\-o) and the block size (\\-k) are not "
                   "used."},
          {"The progress window",
           "is no window: when standard output is a terminal, a long copy sets the "
           "terminal's title to its caption and shows the terminal's progress indicator "
           "beside the percentage, and clears both at the end. Nothing is written when TERM "
           "is unset or dumb, or when standard output is not a terminal."},
          {"The help",
           "is not opened in Notepad: see ENVIRONMENT for the pager, and zorov | less or "
           "zorov > help.txt for the text itself."},
          {"\\-h, \\-h+",
           "Hidden files are those whose names begin with a dot; \\-h+ gives a copy its "
           "source's permission bits exactly."},
      });
  *page += ".PP\n"
           "On POSIX, / is the only separator: there are no drive prefixes and no streams, and "
           "\\e and : are ordinary characters of a name. A flag begins with \\- only; an "
           "argument beginning with / is a path.\n"
           ".PP\n"
           "Names are the bytes the system gives, printed unchanged and compared exactly (letter "
           "case matters). Wildcards match byte for byte, except that *.* matches every name; "
           "directory entries are taken in byte-wise sorted order.\n"
           ".PP\n"
           "A file whose name begins with a dot is hidden: wildcard and directory copies pass "
           "over it unless \\-h is given (\\-s still walks such directories).\n"
           ".PP\n"
           "A file whose owner-write bit is clear is read-only; without \\-o it is not "
           "overwritten, even by root, and \\-o adds the owner-write bit first.\n"
           ".PP\n"
           "A new copy gets its source's permission bits less the umask (\\-h+: exactly) and "
           "its access and modification times.\n"
           ".PP\n"
           "\\-w reads the file version of Windows executables from their version resource; "
           "any other file has version 0.0.\n"
           ".PP\n"
           "Limits of 259 characters read 4095 bytes. The log, the list of copied files and the "
           "help file have LF line ends.\n";
}

void notes(std::string *page) {
  *page += ".SH NOTES\n"
           "A copy killed outright (SIGKILL, power loss) can leave a partial destination that "
           "looks current; \\-os and \\-c are the remedy.\n";
}

struct Example {
  const char *command;
  const char *text;
};

void examples(std::string *page) {
  const Example kExamples[] = {
      {"zorov report.txt backup/", "Copy a file into the directory backup, which is created "
                                   "when it is missing (the target ends in /)."},
      {"zorov -s src/ backup/src/",
       "Copy a tree. Unlike cp \\-r and rsync, the target must end in /: zorov \\-s src dst "
       "takes dst for a file when it doesn't exist, and the files at the top of the tree fail "
       "to copy."},
      {"zorov -s -n src/ backup/src/",
       "Bring a copy of a tree up to date: only files newer than their copies, or missing "
       "there, are copied."},
      {"zorov -s -c -id src/ backup/src/",
       "List what would be copied, and copy nothing. \\-n is not a dry run as in rsync: it "
       "copies (newer files only); \\-id is the dry run."},
      {"zorov -os -a settings.ini /etc/app/",
       "Replace a file through a temporary copy, keeping the old one as settings.(\\-01).ini "
       "(five generations are kept)."},
      {"zorov -pr disk.img /mnt/share/",
       "Continue a copy that was interrupted, from where it stopped."},
      {"zorov -o100K/1 disk.img /mnt/share/",
       "Copy at about 100 KB a second, leaving room on a slow link."},
      {"zorov -s -x='*.o;*/tmp/*' src/ backup/src/",
       "Copy a tree without object files and without any tmp directory."},
      {"zorov -b -s -n -Lbackup.log src/ backup/src/ > out.txt",
       "A copy for a script: no spinning bar, the results appended to backup.log, the names "
       "of the copied files in backup.log.fil, and the exit status to test."},
      {"zorov -m @backup.log.fil archive/",
       "Move the files that list names into the directory archive."},
      {"zorov a.txt b.txt -to /mnt/one/ /mnt/two/", "Copy two files to two places."},
  };
  *page += ".SH EXAMPLES\n";
  for (const Example &example : kExamples)
    *page += std::string(".TP\n.B ") + roff(example.command) + "\n" + example.text + "\n";
}

void see_also(std::string *page) {
  *page += ".SH SEE ALSO\n"
           ".BR cp (1),\n.BR rsync (1),\n.BR install (1),\n.BR less (1),\n"
           ".BR copy_file_range (2)\n";
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
  more_options(&page);
  exit_status(&page, manual);
  files(&page);
  environment(&page);
  posix_systems(&page);
  examples(&page);
  notes(&page);
  see_also(&page);
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

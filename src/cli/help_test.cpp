#include "cli/base/error_level.h"
#include "cli/help.h"

#include "platform/path_syntax.h"
#include "support/row_tests.h"
#include "support/run_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace zorov {
namespace {

using testing_support::run_program;

// The separator the platform appends to the temporary directory.
const nstring separator(1, preferred_separator<nchar>(native_path_style));

class Help : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    fake::add_directory(NT("temp"));
    fake::add_file(NT("a"), "A");
  }
};

TEST_F(Help, ManualGoesToTheTemporaryDirectoryAndShowsThere) {
  nstring directory = testing_support::full_name(NT("temp"));
  fake::set_environment("TMP", directory);
  EXPECT_EQ(run_program({NT("zorov"), NT("-llog"), NT("a")}), level_stopped);
  nstring help = directory + separator + NT("zorov.hlp");
  std::string manual = fake::content(help);
  EXPECT_EQ(manual.find("ZOROV 4.38 -- Feb 21 2009 for 32 bit Windows, supporting long file "
                        "names.\n"),
            0u);
  std::string repeated = "            a stream instead of a file, ZOROV will not copy.\n";
  size_t first = manual.find(repeated);
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(manual.find(repeated, first + 1), first + repeated.size());
  EXPECT_NE(manual.find(repeated, first + 2 * repeated.size()), std::string::npos);
  EXPECT_NE(manual.find("-x \"f1..\"-- List of filenames to exclude."), std::string::npos);
  std::string last =
      "Returns ERROR LEVEL 0--All files copied; else some files did not copy.\n\n\n\n";
  EXPECT_EQ(manual.substr(manual.size() - last.size()), last);
  std::vector<std::string> shown = fake::help_files_shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], narrow_text(help.c_str()));
  EXPECT_EQ(fake::open_text_count(), 0); // logs and the help file are closed
}

TEST_F(Help, NoDoubledSeparatorAndReplacedNotAppended) {
  nstring directory = testing_support::full_name(NT("temp"));
  nstring with_separator = directory + separator;
  fake::set_environment("TMP", with_separator);
  nstring help = with_separator + NT("zorov.hlp");
  fake::add_file(help, "old help\n");
  EXPECT_EQ(run_program({NT("zorov"), NT("a")}), level_stopped);
  EXPECT_EQ(fake::content(help).find("ZOROV 4.38"), 0u);
  EXPECT_EQ(fake::help_files_shown()[0], narrow_text(help.c_str()));
}

// Where the platform asks for it (on POSIX, when standard output is not a
// terminal but a pipe or a file) the help reaches standard output, and the
// help file is still written; a terminal gets the pager alone. Windows
// starts its editor whatever the output is.
using HelpOutputTest = testing_support::RowTest<Help, bool>;

TEST_P(HelpOutputTest, TextReachesOutputThatIsNotATerminal) {
  nstring directory = testing_support::full_name(NT("temp"));
  nstring help = directory + separator + NT("zorov.hlp");
  const bool terminal = GetParam();
  fake::set_environment("TMP", directory);
  fake::set_terminal(terminal);
  bool text_on_output = help_text_to_output();
  EXPECT_FALSE(terminal && text_on_output);
  EXPECT_EQ(run_program({NT("zorov"), NT("a")}), level_stopped);
  std::string manual = fake::content(help);
  EXPECT_EQ(manual.find("ZOROV 4.38 -- "), 0u);
  EXPECT_EQ(fake::console_output(), text_on_output ? manual : "") << terminal;
  EXPECT_EQ(fake::help_files_shown().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Help, HelpOutputTest, ::testing::Bool());

// A help file that can't be written (another user's file at its name) is
// reported, and the user still gets the help: on a terminal the viewer
// takes the text itself where it can, else standard output has it.
using UnwritableHelpTest = testing_support::RowTest<Help, bool>;

TEST_P(UnwritableHelpTest, UnwritableHelpFileStillReachesTheUser) {
  const bool terminal = GetParam();
  fake::set_environment("TMP", testing_support::full_name(NT("missing-dir")));
  fake::set_terminal(terminal);
  EXPECT_EQ(run_program({NT("zorov")}), level_stopped);
  EXPECT_TRUE(fake::help_files_shown().empty());
  EXPECT_NE(fake::console_error().find("Unable to Open "), std::string::npos);
  std::vector<std::string> texts = fake::help_texts_shown();
  std::string shown = texts.empty() ? fake::console_output() : texts[0] + fake::console_output();
  EXPECT_EQ(shown.rfind("ZOROV 4.38 -- "), 0u) << terminal; // once
  EXPECT_NE(shown.find("Returns ERROR LEVEL 0--All files copied;"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Help, UnwritableHelpTest, ::testing::Bool());

using HelpCutShortTest = testing_support::RowTest<Help, fake::Operation>;

TEST_P(HelpCutShortTest, AHelpFileCutShortIsRemovedAndNotShown) {
  nstring directory = testing_support::full_name(NT("temp"));
  nstring help = directory + separator + NT("zorov.hlp");
  const fake::Operation failing = GetParam();
  fake::set_environment("TMP", directory);
  fake::set_terminal(true);
  fake::fail_call(failing, 1, ENOSPC);
  EXPECT_EQ(run_program({NT("zorov")}), level_stopped);
  EXPECT_EQ("Unable to Open " + narrow_text(help.c_str()) + "\n", fake::console_error());
  EXPECT_FALSE(fake::exists(help));
  EXPECT_TRUE(fake::help_files_shown().empty());
}

INSTANTIATE_TEST_SUITE_P(Help, HelpCutShortTest,
                         ::testing::Values(fake::op_write_text, fake::op_flush_text));

// The temporary directory is shared with other users, who may plant links
// or files of their own at the help file's name or at the fresh names.
struct NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileRow {
  const char *name;
  const char *planted; // at zorov.hlp: "link", "dangling", "foreign", ""
  bool rename_refused; // a sticky directory refuses the rename
  bool fresh_taken;    // a link waits at the first fresh name
  bool written;
} const kNoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileRows[] = {
    {"link to a victim", "link", false, false, false},
    {"dangling link", "dangling", false, false, false},
    {"another user's file", "foreign", false, false, false},
    {"sticky directory refuses", "", true, false, false},
    {"first fresh name taken", "", false, true, true},
};

using NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileTest =
    testing_support::RowTest<Help, NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileRow>;

TEST_P(NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileTest,
       NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFile) {
  const NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileRow &row = GetParam();
  SCOPED_TRACE(row.name);
  nstring directory = testing_support::full_name(NT("temp"));
  nstring help = directory + separator + NT("zorov.hlp");
  fake::set_environment("TMP", directory);
  fake::add_file(NT("victim"), "secret");
  std::string planted = row.planted;
  if (planted == "link")
    fake::add_symbolic_link(help, NT("victim"));
  if (planted == "dangling")
    fake::add_symbolic_link(help, NT("created"));
  if (planted == "foreign" || planted.empty())
    fake::add_file(help, "earlier help\n");
  if (planted == "foreign")
    fake::set_foreign_owner(help);
  if (row.rename_refused)
    fake::fail_call(fake::op_rename, 0, EPERM);
  nstring first_fresh = help + NT(".5eed0000");
  if (row.fresh_taken)
    fake::add_symbolic_link(first_fresh, NT("created"));

  EXPECT_EQ(run_program({NT("zorov")}), level_stopped);
  EXPECT_EQ("secret", fake::content(NT("victim")));
  EXPECT_FALSE(fake::exists(NT("created")));
  EXPECT_FALSE(fake::exists(help + NT(".5eed0001")));
  if (row.written) {
    EXPECT_EQ(0u, fake::content(help).find("ZOROV 4.38"));
    EXPECT_TRUE(fake::is_symbolic_link(first_fresh));
    ASSERT_EQ(1u, fake::help_files_shown().size());
    EXPECT_EQ(narrow_text(help.c_str()), fake::help_files_shown()[0]);
    EXPECT_EQ("", fake::console_error());
  } else {
    EXPECT_TRUE(fake::help_files_shown().empty());
    EXPECT_EQ("Unable to Open " + narrow_text(help.c_str()) + "\n", fake::console_error());
    EXPECT_FALSE(fake::exists(first_fresh));
    if (planted == "foreign" || planted.empty()) {
      EXPECT_EQ("earlier help\n", fake::content(help));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Help, NoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileTest,
    ::testing::ValuesIn(kNoHelpFileIsWrittenThroughALinkOrOverAnotherUsersFileRows));

} // namespace
} // namespace zorov

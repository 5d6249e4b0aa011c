#include "decide/generations.h"

#include "platform/path_syntax.h"
#include "support/row_tests.h"
#include "support/run_test_support.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zorov {
namespace {

using testing_support::full_name;
using testing_support::shown;

class Generations : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    open_log_file(NT("log"), 0);
    fake::add_file(NT("src/report.txt"), "new", 2000);
    fake::add_file(NT("w/report.txt"), "current", 1000);
  }
  void TearDown() override {
    FreshRun::TearDown();
    free_buffer_pool(&run.pool);
  }
  // Rotates with both names made absolute; `redirected` gets the name the
  // copy would go to.
  int rotate(const nchar *destination, const nchar *source = NT("src/report.txt"),
             nstring *redirected = nullptr) {
    nstring name = full_name(destination);
    int result = rotate_generations(&name, full_name(source));
    if (redirected)
      *redirected = name;
    return result;
  }
  std::string log() {
    flush_text(log_file);
    return fake::content(NT("log"));
  }
  std::string deleted(const nchar *name) { return shown(name) + " has been deleted.\n"; }
  std::string renamed(const nchar *from, const nchar *to) {
    return shown(from) + " renamed to " + shown(to) + "\n";
  }
  // The per-file job onto `destination`, as the run driver calls it.
  int job(const nchar *destination, const nchar *source = NT("src/report.txt")) {
    if (run.pool.buffer_count == 0)
      testing_support::start_job_run(&run);
    return copy_one_file(run.job, full_name(destination), full_name(source), true);
  }
  int renames_and_removals() {
    return fake::call_count(fake::op_rename) + fake::call_count(fake::op_remove);
  }
  testing_support::JobRun run;
};

TEST_F(Generations, ThreeGenerationsShiftAndDropTheOldest) {
  test_settings().generations = 3;
  fake::add_file(NT("w/report.(-00).txt"), "zero, from a run with one generation");
  fake::add_file(NT("w/report.(-01).txt"), "one");
  fake::add_file(NT("w/report.(-02).txt"), "two");
  nstring redirected;
  EXPECT_EQ(rotate(NT("w/report.txt"), NT("src/report.txt"), &redirected), 0);
  EXPECT_EQ(redirected, full_name(NT("w/report.txt")));
  EXPECT_EQ(log(), deleted(NT("w/report.(-02).txt")) +
                       renamed(NT("w/report.(-01).txt"), NT("w/report.(-02).txt")) +
                       renamed(NT("w/report.txt"), NT("w/report.(-01).txt")));
  EXPECT_FALSE(fake::exists(NT("w/report.txt")));
  EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "current");
  EXPECT_EQ(fake::content(NT("w/report.(-02).txt")), "one");
  EXPECT_EQ(fake::content(NT("w/report.(-00).txt")), "zero, from a run with one generation");
  EXPECT_EQ(fake::console_output() + fake::console_error(), "");
}

struct FirstArchiveOfAFileNamesTheNewestGenerationRow {
  const nchar *destination;
  int32_t generations;
  const nchar *newest;
} const kFirstArchiveOfAFileNamesTheNewestGenerationRows[] = {
    {NT("w/report.txt"), 5, NT("w/report.(-01).txt")},
    {NT("w/report.txt"), 2, NT("w/report.(-01).txt")},
    {NT("w/report.txt"), 1, NT("w/report.(-00).txt")},
    {NT("w/README"), 5, NT("w/README.(-01)")},
    {NT("w/data.tar.gz"), 5, NT("w/data.tar.(-01).gz")},
    {NT("w.d/file"), 5, NT("w.d/file.(-01)")},
    {NT("w/.profile"), 5, NT("w/.(-01).profile")},
};

using FirstArchiveOfAFileNamesTheNewestGenerationTest =
    testing_support::RowTest<Generations, FirstArchiveOfAFileNamesTheNewestGenerationRow>;

TEST_P(FirstArchiveOfAFileNamesTheNewestGenerationTest,
       FirstArchiveOfAFileNamesTheNewestGeneration) {
  const FirstArchiveOfAFileNamesTheNewestGenerationRow &row = GetParam();
  test_settings().generations = row.generations;
  fake::add_file(row.destination, "current");
  EXPECT_EQ(rotate(row.destination), 0);
  // The removal and the shifts find nothing and say nothing.
  EXPECT_EQ(log(), renamed(row.destination, row.newest));
  EXPECT_EQ(fake::content(row.newest), "current");
  EXPECT_FALSE(fake::exists(row.destination));
}

INSTANTIATE_TEST_SUITE_P(Generations, FirstArchiveOfAFileNamesTheNewestGenerationTest,
                         ::testing::ValuesIn(kFirstArchiveOfAFileNamesTheNewestGenerationRows));

TEST_F(Generations, OneGenerationReplacesTheZerothBackup) {
  test_settings().generations = 1;
  fake::add_file(NT("w/report.(-00).txt"), "older");
  EXPECT_EQ(rotate(NT("w/report.txt")), 0);
  EXPECT_EQ(log(), deleted(NT("w/report.(-00).txt")) +
                       renamed(NT("w/report.txt"), NT("w/report.(-00).txt")));
  EXPECT_EQ(fake::content(NT("w/report.(-00).txt")), "current");
}

TEST_F(Generations, TwoGenerationsDropTheOnlyBackupWithoutShifting) {
  test_settings().generations = 2;
  fake::add_file(NT("w/report.(-01).txt"), "one");
  fake::add_file(NT("w/report.(-02).txt"), "left from a larger count");
  EXPECT_EQ(rotate(NT("w/report.txt")), 0);
  EXPECT_EQ(log(), deleted(NT("w/report.(-01).txt")) +
                       renamed(NT("w/report.txt"), NT("w/report.(-01).txt")));
  EXPECT_EQ(fake::content(NT("w/report.(-02).txt")), "left from a larger count");
}

TEST_F(Generations, NinetyNineGenerationsReachTheSuffixNinetyEight) {
  test_settings().generations = 99;
  fake::add_file(NT("w/report.(-01).txt"), "one");
  fake::add_file(NT("w/report.(-09).txt"), "nine");
  fake::add_file(NT("w/report.(-97).txt"), "ninety-seven");
  fake::add_file(NT("w/report.(-98).txt"), "ninety-eight");
  EXPECT_EQ(rotate(NT("w/report.txt")), 0);
  EXPECT_EQ(log(), deleted(NT("w/report.(-98).txt")) +
                       renamed(NT("w/report.(-97).txt"), NT("w/report.(-98).txt")) +
                       renamed(NT("w/report.(-09).txt"), NT("w/report.(-10).txt")) +
                       renamed(NT("w/report.(-01).txt"), NT("w/report.(-02).txt")) +
                       renamed(NT("w/report.txt"), NT("w/report.(-01).txt")));
  EXPECT_EQ(fake::content(NT("w/report.(-98).txt")), "ninety-seven");
  EXPECT_EQ(fake::content(NT("w/report.(-10).txt")), "nine");
  EXPECT_EQ(fake::content(NT("w/report.(-02).txt")), "one");
}

TEST_F(Generations, LoweringTheCountLeavesHigherGenerations) {
  test_settings().generations = 3;
  const nchar *older[] = {NT("w/report.(-01).txt"), NT("w/report.(-02).txt"),
                          NT("w/report.(-03).txt"), NT("w/report.(-04).txt")};
  for (const nchar *name : older)
    fake::add_file(name, narrow_text(name));
  EXPECT_EQ(rotate(NT("w/report.txt")), 0);
  EXPECT_EQ(fake::content(NT("w/report.(-03).txt")), narrow_text(older[2]));
  EXPECT_EQ(fake::content(NT("w/report.(-04).txt")), narrow_text(older[3]));
  EXPECT_EQ(fake::content(NT("w/report.(-02).txt")), narrow_text(older[0]));
  EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "current");
}

TEST_F(Generations, IdentifyOnlyTouchesNothing) {
  test_settings().identify_only = true;
  fake::add_file(NT("w/report.(-04).txt"), "four");
  nstring redirected;
  EXPECT_EQ(rotate(NT("w/report.txt"), NT("src/report.txt"), &redirected), 0);
  EXPECT_EQ(redirected, full_name(NT("w/report.txt")));
  EXPECT_EQ(renames_and_removals(), 0);
  EXPECT_EQ(log(), "");
}

TEST_F(Generations, FailedRemovalsAndRenamesAreSilent) {
  fake::add_file(NT("w/report.(-04).txt"), "four");
  fake::fail_call(fake::op_remove, 0, EACCES);
  fake::fail_call(fake::op_rename, 1, EACCES);
  EXPECT_EQ(rotate(NT("w/report.txt")), 0);
  EXPECT_EQ(log(), renamed(NT("w/report.txt"), NT("w/report.(-01).txt")));
  EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "current");
  EXPECT_EQ(fake::console_output() + fake::console_error(), "");
}

TEST_F(Generations, DestinationThatCantBeArchivedIsNotReplaced) {
  // A backup whose own shift failed is never renamed over, and a
  // destination that can't become a backup is not copied over.
  fake::add_file(NT("w/report.(-01).txt"), "one");
  fake::fail_call(fake::op_rename, 0, EACCES);
  EXPECT_EQ(rotate(NT("w/report.txt")), 1);
  EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "one");
  EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
  std::string refused = narrow_text(full_name(NT("src/report.txt")).c_str()) + " ===> " +
                        narrow_text(full_name(NT("w/report.txt")).c_str()) +
                        " : Failed.  Unable to archive the destination.  ";
  EXPECT_EQ(fake::console_output().substr(0, refused.size()), refused);
}

TEST_F(Generations, FileArchivedOntoItselfIsCopiedBesideItself) {
  test_settings().generations = 3;
  fake::add_file(NT("w/report.(-01).txt"), "one");
  nstring redirected;
  EXPECT_EQ(rotate(NT("w/report.txt"), NT("w/report.txt"), &redirected), 0);
  EXPECT_EQ(redirected, full_name(NT("w/report.txt")) + NT(".(-01)"));
  // The shift still runs; the exception itself logs nothing.
  EXPECT_EQ(log(), renamed(NT("w/report.(-01).txt"), NT("w/report.(-02).txt")));
  EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
}

// Renames and removals act on a link planted at a generation name, never on
// what it leads to; the backup beside a file archived onto itself is never
// written through one.
struct LinksAtGenerationNamesAreNeverFollowedRow {
  const char *name;
  const nchar *planted; // the link's name
  bool onto_itself;
  bool raced; // the link appears between the check and the creation
  const char *victim_after_job;
  int result;
} const kLinksAtGenerationNamesAreNeverFollowedRows[] = {
    {"oldest generation", NT("w/report.(-02).txt"), false, false, "secret", 0},
    {"generation shifted", NT("w/report.(-01).txt"), false, false, "secret", 0},
    {"backup beside itself", NT("w/report.txt.(-01)"), true, false, "secret", 0},
    {"backup raced", NT("w/report.txt.(-01)"), true, true, "secret", 0},
};

using LinksAtGenerationNamesAreNeverFollowedTest =
    testing_support::RowTest<Generations, LinksAtGenerationNamesAreNeverFollowedRow>;

TEST_P(LinksAtGenerationNamesAreNeverFollowedTest, LinksAtGenerationNamesAreNeverFollowed) {
  const LinksAtGenerationNamesAreNeverFollowedRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().archive = true;
  test_settings().quiet = true;
  test_settings().generations = 3;
  fake::add_file(NT("victim"), "secret");
  nstring planted = row.planted;
  if (row.raced) {
    fake::add_file(planted, "earlier backup");
    fake::set_foreign_owner(planted);
    fake::before_call(fake::op_open, 1,
                      [planted] { fake::add_symbolic_link(planted, NT("victim")); });
  } else {
    fake::add_symbolic_link(planted, NT("victim"));
  }
  const nchar *source = row.onto_itself ? NT("w/report.txt") : NT("src/report.txt");
  EXPECT_EQ(row.result, job(NT("w/report.txt"), source));
  EXPECT_EQ(row.victim_after_job, fake::content(NT("victim")));
  EXPECT_EQ("current",
            fake::content(row.onto_itself ? NT("w/report.txt") : NT("w/report.(-01).txt")));
  if (row.onto_itself && row.result == 0) {
    EXPECT_EQ("current", fake::content(planted));
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, LinksAtGenerationNamesAreNeverFollowedTest,
                         ::testing::ValuesIn(kLinksAtGenerationNamesAreNeverFollowedRows));

TEST_F(Generations, NamesOfOneFileByCaseOnlyWhereCaseIsIgnored) {
  test_settings().generations = 3;
  nstring redirected;
  if (names_ignore_case(native_path_style)) {
    EXPECT_EQ(rotate(NT("W/Report.TXT"), NT("w/report.txt"), &redirected), 0);
    EXPECT_EQ(redirected, full_name(NT("W/Report.TXT")) + NT(".(-01)"));
    EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
  } else {
    fake::add_file(NT("w/Report.TXT"), "other");
    EXPECT_EQ(rotate(NT("w/report.txt"), NT("w/Report.TXT"), &redirected), 0);
    EXPECT_EQ(redirected, full_name(NT("w/report.txt")));
    EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "current");
    EXPECT_EQ(fake::content(NT("w/Report.TXT")), "other");
  }
}

// The destination is the source under another spelling: never renamed away.
// With backups to spare the copy goes beside it, as for equal names; with a
// single generation nothing moves and the copy engine refuses the pair.
TEST_F(Generations, SourceUnderAnotherNameIsNeverArchivedAway) {
  fake::add_file(NT("w/sub/x"), "");
  fake::add_link(NT("w/link.txt"), NT("w/report.txt"));
  struct Row {
    const nchar *destination;
    nstring source; // as given, not made absolute
    int32_t generations;
    bool redirected;
  } rows[] = {
      {NT("w/link.txt"), full_name(NT("w/report.txt")), 5, true},
      {NT("w/link.txt"), full_name(NT("w/report.txt")), 1, false},
      {NT("w/report.txt"), NT("w/report.txt"), 3, true},
      {NT("w/report.txt"), NT("w/report.txt"), 1, false},
      {NT("w/report.txt"), full_name(NT("w/sub")) + NT("/../report.txt"), 2, true},
      {NT("w/report.txt"), full_name(NT("w/report.txt")), 1, false},
  };
  for (const Row &row : rows) {
    fake::add_file(NT("w/report.(-00).txt"), "zero");
    fake::add_file(NT("w/report.(-01).txt"), "one");
    fake::clear_faults();
    int before = renames_and_removals();
    test_settings().generations = row.generations;
    nstring name = full_name(row.destination);
    EXPECT_EQ(rotate_generations(&name, row.source), 0);
    EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
    if (row.redirected) {
      EXPECT_EQ(name, full_name(row.destination) + NT(".(-01)"));
    } else {
      EXPECT_EQ(name, full_name(row.destination));
      EXPECT_EQ(renames_and_removals(), before);
      EXPECT_EQ(fake::content(NT("w/report.(-00).txt")), "zero");
    }
  }
}

struct SourceAmongTheGenerationsRefusesTheArchiveRow {
  int32_t generations;
  const nchar *source;
  int result;
} const kSourceAmongTheGenerationsRefusesTheArchiveRows[] = {
    {5, NT("w/report.(-01).txt"), 1}, // would be shifted to -02
    {5, NT("w/report.(-04).txt"), 1}, // would be removed as the oldest
    {1, NT("w/report.(-00).txt"), 1},
    {3, NT("w/report.(-04).txt"), 0}, // above the kept ones: untouched
};

using SourceAmongTheGenerationsRefusesTheArchiveTest =
    testing_support::RowTest<Generations, SourceAmongTheGenerationsRefusesTheArchiveRow>;

TEST_P(SourceAmongTheGenerationsRefusesTheArchiveTest, SourceAmongTheGenerationsRefusesTheArchive) {
  const SourceAmongTheGenerationsRefusesTheArchiveRow &row = GetParam();
  fake::add_file(NT("w/report.(-00).txt"), "zero");
  fake::add_file(NT("w/report.(-01).txt"), "one");
  fake::add_file(NT("w/report.(-04).txt"), "four");
  test_settings().generations = row.generations;
  EXPECT_EQ(rotate(NT("w/report.txt"), row.source), row.result) << row.generations;
  EXPECT_TRUE(fake::exists(row.source));
  if (row.result == 1) {
    std::string line = shown(row.source) + " ===> " + shown(NT("w/report.txt")) +
                       " : Failed.  The source is an archive generation of the destination.\n";
    EXPECT_EQ(fake::console_output(), line);
    EXPECT_EQ(log(), line);
    EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
    EXPECT_EQ(renames_and_removals(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, SourceAmongTheGenerationsRefusesTheArchiveTest,
                         ::testing::ValuesIn(kSourceAmongTheGenerationsRefusesTheArchiveRows));

// A name that leaves no room for the suffix is shortened before it, the same
// way every run, so that later runs shift the generations earlier ones
// made; where even that can't make room, the destination is not replaced.
TEST_F(Generations, NamesWithoutRoomForTheSuffixAreShortenedAlikeEveryRun) {
  test_settings().generations = 3;
  // As long as a component may be, or as the whole name leaves room for.
  const nstring directory = full_name(NT("w/"));
  const size_t length = std::min(size_t(250), size_t(kPathMax) - directory.size() - 4);
  const nstring destination = directory + nstring(length, NT('d')) + NT(".txt");
  for (const char *content : {"first", "second", "third"}) {
    fake::add_file(destination, content);
    nstring name = destination;
    EXPECT_EQ(rotate_generations(&name, full_name(NT("src/report.txt"))), 0);
    EXPECT_EQ(name, destination);
  }
  std::vector<std::string> generations;
  for (const nstring &name : fake::names())
    if (name.compare(0, directory.size() + 9, directory + NT("ddddddddd")) == 0)
      generations.push_back(narrow_text(name.substr(name.size() - 10).c_str()) + " " +
                            fake::content(name));
  // The third run dropped the first one's backup.
  EXPECT_EQ(generations, std::vector<std::string>({".(-01).txt third", ".(-02).txt second"}));
}

TEST_F(Generations, NameWithoutRoomEvenWhenShortenedIsNotReplaced) {
  const nstring crowded = fake::deep_name(size_t(kPathMax));
  fake::add_file(crowded, "current");
  nstring name = crowded;
  EXPECT_EQ(rotate_generations(&name, full_name(NT("src/report.txt"))), 1);
  EXPECT_EQ(fake::content(crowded), "current");
  EXPECT_EQ(renames_and_removals(), 0);
  std::string line = shown(NT("src/report.txt")) + " ===> " + narrow_text(crowded.c_str()) +
                     " : Failed.  Archive name too long.\n";
  EXPECT_EQ(log(), line);
  EXPECT_EQ(fake::console_output(), line);
}

TEST_F(Generations, JobCopiesAfterTheRotation) {
  test_settings().archive = true;
  test_settings().generations = 3;
  test_settings().quiet = true;
  fake::add_file(NT("w/report.(-01).txt"), "one");
  EXPECT_EQ(job(NT("w/report.txt")), 0);
  EXPECT_EQ(fake::content(NT("w/report.txt")), "new");
  EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "current");
  EXPECT_EQ(fake::content(NT("w/report.(-02).txt")), "one");
  EXPECT_EQ(log(), renamed(NT("w/report.(-01).txt"), NT("w/report.(-02).txt")) +
                       renamed(NT("w/report.txt"), NT("w/report.(-01).txt")) +
                       shown(NT("src/report.txt")) + " ===> " + shown(NT("w/report.txt")) +
                       " : Ok\n");
}

TEST_F(Generations, JobOfAFileOntoItself) {
  test_settings().archive = true;
  test_settings().batch = true;
  fake::add_link(NT("w/link.txt"), NT("w/report.txt"));
  // With backups to spare the copy is written beside the file.
  EXPECT_EQ(job(NT("w/link.txt"), NT("w/report.txt")), 0);
  EXPECT_EQ(fake::content(NT("w/link.txt.(-01)")), "current");
  EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
  // With one generation the file stays and the pair is refused as one file.
  test_settings().generations = 1;
  fake::clear_console();
  EXPECT_EQ(job(NT("w/link.txt"), NT("w/report.txt")), 1);
  EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
  EXPECT_FALSE(fake::exists(NT("w/link.(-00).txt")));
  // The report repeats the pair that announced the copy.
  std::string pair = shown(NT("w/report.txt")) + " ===> " + shown(NT("w/link.txt"));
  EXPECT_EQ(fake::console_output(), pair + pair + " : Source, Destination are same file.\n\n");
}

TEST_F(Generations, JobRefusedByTheArchiveCopiesNothing) {
  test_settings().archive = true;
  test_settings().quiet = true;
  fake::add_file(NT("w/report.(-01).txt"), "one");
  EXPECT_EQ(job(NT("w/report.txt"), NT("w/report.(-01).txt")), 1);
  EXPECT_EQ(fake::content(NT("w/report.txt")), "current");
  EXPECT_EQ(fake::content(NT("w/report.(-01).txt")), "one");
  EXPECT_EQ(fake::console_output(), "");
  EXPECT_NE(log().find(" : Failed.  The source is an archive generation of the destination.\n"),
            std::string::npos);
}

} // namespace
} // namespace zorov

// The copy entry: same-file checks, the source examination, read-only
// destinations, safe overwrite with its temporary names and replacement.
#include "engine/copy_entry.h"

#include "engine/block_copy.h"
#include "engine/copy_status.h"
#include "platform/path_syntax.h"
#include "support/copy_test_fixture.h"
#include "support/row_tests.h"
#include "support/test_settings.h"

#include <algorithm>
#include <cerrno>
#include <tuple>

namespace zorov {
namespace {

class CopyEntryTest : public CopyTest {};

nstring numbered(const nstring &base, uint32_t number) {
  return temporary_name(base.c_str(), number);
}

TEST(TemporaryName, AppendsTheClockReadingInDecimal) {
  EXPECT_EQ(NT("dst_0"), temporary_name(NT("dst"), 0));
  EXPECT_EQ(NT("/d/report.txt_91234567"), temporary_name(NT("/d/report.txt"), 91234567));
  EXPECT_EQ(NT("x_4294967295"), temporary_name(NT("x"), 0xFFFFFFFFu));
}

TEST(CopyCaption, NamesTheSourceAndFitsAPathBuffer) {
  EXPECT_EQ(NT("Copying /d/a.txt"), copy_caption(NT("/d/a.txt")));
  // A character of several units is never cut in half.
  const nstring wide = NT("\U0001F600");
  for (const nchar *lead : {NT(""), NT("x"), NT("xy"), NT("xyz")}) {
    nstring source = lead;
    while (source.size() + wide.size() <= size_t(kPathMax))
      source += wide;
    nstring caption = copy_caption(source.c_str());
    size_t head = 8 + nstring(lead).size();
    EXPECT_LE(caption.size(), size_t(kPathMax));
    EXPECT_EQ(NT("Copying ") + nstring(lead), caption.substr(0, head));
    EXPECT_EQ(NT("..."), caption.substr(caption.size() - 3));
    EXPECT_EQ(0u, (caption.size() - 3 - head) % wide.size()) << narrow_text(lead);
  }
}

const bool case_matters = !names_ignore_case(native_path_style);
const bool streams = names_have_streams(native_path_style);
enum Destination { missing, link, case_spelling, own_file, earlier_copy };

struct TheSameFileIsNeverOpenedRow {
  const char *name;
  const nchar *destination;
  Destination kind;
  CopyStatus status;
} const kTheSameFileIsNeverOpenedRows[] = {
    {"same name", NT("src"), missing, copy_same_file},
    {"hard link", NT("dst"), link, copy_same_file},
    // Case differs: one file on Windows, two on POSIX.
    {"other case", NT("SRC"), missing, case_matters ? copy_ok : copy_same_file},
    // A case-folding file system that gives each spelling its own
    // identity: the directory doesn't list the spelling.
    {"spelling of a case-folding file system", NT("SRC"), case_matters ? case_spelling : missing,
     copy_same_file},
    {"a file of its own by case", NT("SRC"), case_matters ? own_file : missing,
     case_matters ? copy_ok : copy_same_file},
    // A name the file system answers for by rules of its own (a short
    // name, a spelling it folds otherwise), listed nowhere.
    {"an unlisted name of the source", NT("SRC~1"), case_spelling, copy_same_file},
    // Its data and times are the source's, but not the moment it was made:
    // nothing is looked up to tell it apart.
    {"an earlier copy", NT("dst"), earlier_copy, copy_ok},
    // A stream of the source's own file; on POSIX a name of its own.
    {"a stream of the source", NT("src:meta"), missing, streams ? copy_same_file : copy_ok},
    {"a stream of a spelling of the source", NT("SRC:meta"), missing,
     streams ? copy_same_file : copy_ok},
};

using TheSameFileIsNeverOpenedTest =
    testing_support::RowTest<CopyEntryTest, TheSameFileIsNeverOpenedRow>;

TEST_P(TheSameFileIsNeverOpenedTest, TheSameFileIsNeverOpened) {
  const TheSameFileIsNeverOpenedRow &row = GetParam();
  SCOPED_TRACE(row.name);
  fake::add_file(NT("src"), "data");
  if (row.kind == link)
    fake::add_link(row.destination, NT("src"));
  if (row.kind == case_spelling)
    fake::add_case_spelling(row.destination, NT("src"));
  if (row.kind == own_file)
    fake::add_file(row.destination, "other");
  if (row.kind == earlier_copy)
    fake::add_file(row.destination, "data");
  CopyStatus status = copy_file_data(pool, request(NT("src"), row.destination)).status;
  EXPECT_EQ(row.status, status);
  EXPECT_EQ("data", fake::content(NT("src")));
  if (row.kind == earlier_copy) {
    EXPECT_EQ(0, fake::call_count(fake::op_search));
  }
  if (row.status == copy_same_file) {
    EXPECT_EQ(0, fake::call_count(fake::op_open));
    EXPECT_EQ("", fake::console_output());
  }
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, TheSameFileIsNeverOpenedTest,
                         ::testing::ValuesIn(kTheSameFileIsNeverOpenedRows));

using UnreadableSourceTest = testing_support::RowTest<CopyEntryTest, fake::Operation>;

TEST_P(UnreadableSourceTest, ASourceThatCannotBeExaminedOrOpenedFails) {
  fake::add_file(NT("src"), "data");
  fake::add_file(NT("dst"), "old");
  fake::fail_call(GetParam(), 0, EACCES);
  EXPECT_EQ(copy_source_failed, copy());
  EXPECT_EQ(EACCES, result.error_number);
  EXPECT_EQ("old", fake::content(NT("dst")));
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, UnreadableSourceTest,
                         ::testing::Values(fake::op_status, fake::op_open));

TEST_F(CopyEntryTest, AMissingSourceFails) {
  EXPECT_EQ(copy_source_failed, copy());
  EXPECT_EQ(ENOENT, result.error_number);
}

TEST_F(CopyEntryTest, TheSourceOpenFallsBackToSharingWithWriters) {
  fake::add_file(NT("src"), "data");
  fake::fail_call(fake::op_open, 1, EACCES);
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ("data", fake::content(NT("dst")));
}

struct ReadOnlyDestinationsRow {
  const char *name;
  bool overwrite_read_only;
  bool safe;
  bool append;
  CopyStatus status;
  const char *content;
} const kReadOnlyDestinationsRows[] = {
    {"refused", false, false, false, copy_destination_failed, "old"},
    {"refused for append", false, false, true, copy_destination_failed, "old"},
    {"refused for safe overwrite", false, true, false, copy_destination_failed, "old"},
    {"made writable", true, false, false, copy_ok, "new"},
    {"made writable, appended", true, false, true, copy_ok, "oldnew"},
    {"made writable, safe", true, true, false, copy_ok, "new"},
};

using ReadOnlyDestinationsTest = testing_support::RowTest<CopyEntryTest, ReadOnlyDestinationsRow>;

TEST_P(ReadOnlyDestinationsTest, ReadOnlyDestinations) {
  const ReadOnlyDestinationsRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().overwrite_read_only = row.overwrite_read_only;
  test_settings().safe_overwrite = row.safe;
  test_settings().append = row.append;
  fake::add_file(NT("src"), "new");
  fake::add_file(NT("dst"), "old", 0, true);
  fake::set_clock(1000);
  EXPECT_EQ(row.status, copy());
  EXPECT_EQ(row.content, fake::content(NT("dst")));
  EXPECT_FALSE(fake::exists(NT("dst_1000")));
  if (row.status == copy_destination_failed) {
    EXPECT_EQ(EACCES, result.error_number);
    EXPECT_EQ("dst: Unable to Open output file" + error_text(EACCES) + "\n", fake::console_error());
  }
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, ReadOnlyDestinationsTest,
                         ::testing::ValuesIn(kReadOnlyDestinationsRows));

TEST_F(CopyEntryTest, AWritableThatFailsLeavesNoAppendMode) {
  test_settings().overwrite_read_only = true;
  test_settings().append = true;
  fake::add_file(NT("src"), "new");
  fake::add_file(NT("dst"), "old", 0, true);
  fake::fail_call(fake::op_make_writable, 1, EPERM);
  EXPECT_EQ(copy_destination_failed, copy());
  EXPECT_EQ("old", fake::content(NT("dst")));
}

struct SafeOverwriteWritesATemporaryNameFirstRow {
  const char *name;
  bool exists;
  bool restart;
  bool fail_write;
  CopyStatus status;
  const char *content;
} const kSafeOverwriteWritesATemporaryNameFirstRows[] = {
    {"replaces", true, false, false, copy_ok, "new data"},
    {"missing destination is written directly", false, false, false, copy_ok, "new data"},
    {"failure keeps the destination", true, false, true, copy_write_failed, "old"},
    {"restart uses no temporary name", true, true, false, copy_ok, "old data"},
};

using SafeOverwriteWritesATemporaryNameFirstTest =
    testing_support::RowTest<CopyEntryTest, SafeOverwriteWritesATemporaryNameFirstRow>;

TEST_P(SafeOverwriteWritesATemporaryNameFirstTest, SafeOverwriteWritesATemporaryNameFirst) {
  const SafeOverwriteWritesATemporaryNameFirstRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().safe_overwrite = true;
  fake::add_file(NT("src"), "new data");
  if (row.exists)
    fake::add_file(NT("dst"), "old");
  if (row.fail_write)
    fake::fail_call(fake::op_write, 1, EIO);
  fake::set_clock(1000);
  EXPECT_EQ(row.status, copy(row.restart));
  EXPECT_EQ(row.content, fake::content(NT("dst")));
  EXPECT_FALSE(fake::exists(NT("dst_1000")));
  if (row.status == copy_ok) {
    EXPECT_EQ(source_modification.seconds, fake::status_of(NT("dst")).modification_time.seconds);
  }
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, SafeOverwriteWritesATemporaryNameFirstTest,
                         ::testing::ValuesIn(kSafeOverwriteWritesATemporaryNameFirstRows));

// While the output is being written an interruption knows what to put
// right; once the copy is finished it leaves the output alone.
struct WatchRow {
  bool safe_overwrite;
  bool platform;
  bool fail_write;
  std::vector<std::string> events;
  int64_t source_time = 2000000;
  bool device = false; // the destination is a device node
} const kWatchRows[] = {
    {false,
     false,
     false,
     {"watch plain opening dst marked 0", "watch plain open dst marked 0", "end"}},
    {false,
     false,
     true,
     {"watch plain opening dst marked 0", "watch plain open dst marked 0", "end"}},
    {true,
     false,
     false,
     {"watch temporary opening dst_1000", "watch temporary open dst_1000", "end"}},
    {false, true, false, {"watch plain opening dst marked 0", "end"}},
    {true, true, false, {"watch temporary opening dst_1000", "end"}},
    // A source dated at or before 1970 leaves a partial copy older still.
    {false,
     false,
     false,
     {"watch plain opening dst marked -3", "watch plain open dst marked -3", "end"},
     0},
    {false, true, false, {"watch plain opening dst marked -100000003", "end"}, -100000000},
    // An interruption leaves a device as it is.
    {false, true, false, {"end"}, 2000000, true},
};

using WatchTest = testing_support::RowTest<CopyEntryTest, WatchRow>;

TEST_P(WatchTest, TheOutputIsWatchedWhileItIsWritten) {
  const WatchRow &row = GetParam();
  test_settings().safe_overwrite = row.safe_overwrite;
  source_modification = FileTime{row.source_time, 0};
  fake::add_file(NT("src"), "new data");
  if (row.device)
    fake::add_special(NT("dst"), false);
  else
    fake::add_file(NT("dst"), "old");
  if (row.fail_write)
    fake::fail_call(fake::op_write, 1, EIO);
  fake::set_clock(1000);
  copy(false, row.platform);
  EXPECT_EQ(fake::watch_events(), row.events);
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, WatchTest, ::testing::ValuesIn(kWatchRows));

TEST_F(CopyEntryTest, NoOutputIsWatchedForASourceThatCannotBeRead) {
  copy();
  EXPECT_EQ(fake::watch_events(), std::vector<std::string>());
}

struct TemporaryNamesAreRetriedOnTheClockRow {
  const char *name;
  uint32_t step;
  int taken;         // dst_1000 ... taken - 1 exist
  CopyStatus status; // copy_ok: a name was free, dst_(1000 + taken)
} const kTemporaryNamesAreRetriedOnTheClockRows[] = {
    {"first is free", 1, 0, copy_ok},
    {"ten taken", 1, 10, copy_ok},
    {"last try", 1, 64, copy_ok},
    {"all taken", 1, 65, copy_destination_failed},
    {"clock stands still", 0, 1, copy_destination_failed},
};

using TemporaryNamesAreRetriedOnTheClockTest =
    testing_support::RowTest<CopyEntryTest, TemporaryNamesAreRetriedOnTheClockRow>;

TEST_P(TemporaryNamesAreRetriedOnTheClockTest, TemporaryNamesAreRetriedOnTheClock) {
  const TemporaryNamesAreRetriedOnTheClockRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().safe_overwrite = true;
  open_log();
  fake::add_file(NT("src"), "new");
  fake::add_file(NT("dst"), "old");
  for (int i = 0; i < row.taken; ++i)
    fake::add_file(numbered(NT("dst"), uint32_t(1000 + i)), "x");
  fake::set_clock(1000, row.step);
  // A refused rename keeps the temporary file, which shows its name.
  fake::fail_call(fake::op_rename, 0, EIO);
  CopyStatus status = copy();
  std::string log = log_text();
  if (row.status == copy_ok) {
    EXPECT_EQ(copy_replace_failed, status);
    EXPECT_EQ(numbered(NT("dst"), uint32_t(1000 + row.taken)), result.kept_temporary_name);
    EXPECT_EQ("new", fake::content(result.kept_temporary_name));
  } else {
    EXPECT_EQ(copy_destination_failed, status);
    const char *text = "Safe Copy Failed.  Unable to create temporary output file\n";
    EXPECT_EQ(std::string("  0%") + text, fake::console_output());
    EXPECT_EQ(text, log);
    EXPECT_EQ(0, fake::open_descriptor_count());
  }
  EXPECT_EQ("old", fake::content(NT("dst")));
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, TemporaryNamesAreRetriedOnTheClockTest,
                         ::testing::ValuesIn(kTemporaryNamesAreRetriedOnTheClockRows));

// Another user of the machine plants links at the temporary names: before
// the copy starts, between two of its steps, or in place of the finished
// temporary file. Neither copy path ever writes or renames through them.
struct TemporaryFilesAreNeverOpenedOrRenamedThroughALinkRow {
  const char *name;
  bool platform;
  fake::Operation step; // the link appears just before this call
  int nth;
  bool swap; // the finished temporary file itself becomes the link
} const kTemporaryFilesAreNeverOpenedOrRenamedThroughALinkRows[] = {
    {"planted before, buffered", false, fake::op_operation_count, 0, false},
    {"planted before, platform", true, fake::op_operation_count, 0, false},
    {"planted before the output opens", false, fake::op_open, 2, false},
    {"planted before the platform copy", true, fake::op_platform_copy, 1, false},
    {"swapped before the rename, buffered", false, fake::op_rename, 1, true},
    {"swapped before the rename, platform", true, fake::op_rename, 1, true},
};

using TemporaryFilesAreNeverOpenedOrRenamedThroughALinkTest =
    testing_support::RowTest<CopyEntryTest, TemporaryFilesAreNeverOpenedOrRenamedThroughALinkRow>;

TEST_P(TemporaryFilesAreNeverOpenedOrRenamedThroughALinkTest,
       TemporaryFilesAreNeverOpenedOrRenamedThroughALink) {
  const TemporaryFilesAreNeverOpenedOrRenamedThroughALinkRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().safe_overwrite = true;
  fake::add_file(NT("src"), "new");
  fake::add_file(NT("dst"), "old");
  fake::add_file(NT("victim"), "secret");
  fake::set_clock(1000, 1);
  const nstring first = numbered(NT("dst"), 1000);
  auto plant = [&first, &row] {
    if (row.swap)
      remove_file(first.c_str());
    fake::add_symbolic_link(first, NT("victim"));
  };
  if (row.step == fake::op_operation_count)
    plant();
  else
    fake::before_call(row.step, row.nth, plant);
  fake::add_symbolic_link(numbered(NT("dst"), 1001), NT("created-through-link"));
  CopyStatus status = copy(false, row.platform);
  EXPECT_EQ("secret", fake::content(NT("victim")));
  EXPECT_FALSE(fake::exists(NT("created-through-link")));
  EXPECT_TRUE(fake::is_symbolic_link(first));
  EXPECT_FALSE(fake::is_symbolic_link(NT("dst")));
  if (row.swap) {
    // The copy is gone from its name: the destination stays as it was.
    EXPECT_EQ(copy_replace_failed, status);
    EXPECT_EQ("old", fake::content(NT("dst")));
  } else {
    EXPECT_EQ(copy_ok, status);
    EXPECT_EQ("new", fake::content(NT("dst")));
  }
  EXPECT_EQ(0, fake::open_descriptor_count());
}

INSTANTIATE_TEST_SUITE_P(
    CopyEntry, TemporaryFilesAreNeverOpenedOrRenamedThroughALinkTest,
    ::testing::ValuesIn(kTemporaryFilesAreNeverOpenedOrRenamedThroughALinkRows));

// The temporary file is never readable by more users than the file it
// becomes: the destination as a plain overwrite keeps it, or with -h+ a file
// with the source's bits.
struct BitsRow {
  bool source_bits; // -h+
  uint32_t source, destination, expected;
} const kBitsRows[] = {{false, 0755, 0600, 0600}, {true, 0600, 0644, 0600}};

using BitsTest = testing_support::RowTest<CopyEntryTest, BitsRow>;

TEST_P(BitsTest, TemporaryFileIsNoMoreReadableThanItsResult) {
  fake::add_file(NT("src"), "");
  fake::set_permissions(NT("src"), 0600);
  if (fake::status_of(NT("src")).permissions == 0)
    GTEST_SKIP() << "no permission bits on this platform";
  const BitsRow &row = GetParam();
  test_settings().safe_overwrite = true;
  test_settings().set_hidden_attributes = row.source_bits;
  fake::add_file(NT("src"), "new");
  fake::set_permissions(NT("src"), row.source);
  fake::add_file(NT("dst"), "old");
  fake::set_permissions(NT("dst"), row.destination);
  fake::set_clock(1000);
  uint32_t temporary_bits = 0;
  fake::before_call(fake::op_rename, 1, [&temporary_bits] {
    temporary_bits = fake::status_of(numbered(NT("dst"), 1000)).permissions;
  });
  EXPECT_EQ(copy_ok, copy());
  EXPECT_EQ("new", fake::content(NT("dst")));
  EXPECT_EQ(row.expected, temporary_bits);
  EXPECT_EQ(row.expected, fake::status_of(NT("dst")).permissions);
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, BitsTest, ::testing::ValuesIn(kBitsRows));

// A copy runs with its owner's rights (set-user-ID, set-group-ID) only where
// it has its source's owner: with -h+ or by the platform's copy, both files
// must be the user's own.
struct RunAsOwnerRow {
  bool platform, foreign_source, foreign_destination;
  uint32_t expected;
} const kRunAsOwnerRows[] = {{false, false, false, 06755},
                             {false, true, false, 0755},
                             {false, false, true, 0755},
                             {true, false, true, 0755}};

using RunAsOwnerTest = testing_support::RowTest<CopyEntryTest, RunAsOwnerRow>;

TEST_P(RunAsOwnerTest, CopyKeepsTheBitsOnlyWithTheSourcesOwner) {
  const RunAsOwnerRow &row = GetParam();
  test_settings().set_hidden_attributes = true;
  fake::add_file(NT("src"), "new");
  fake::set_permissions(NT("src"), 06755);
  if (fake::status_of(NT("src")).permissions == 0)
    GTEST_SKIP() << "no permission bits on this platform";
  fake::add_file(NT("dst"), "old");
  if (row.foreign_source)
    fake::set_foreign_owner(NT("src"));
  if (row.foreign_destination)
    fake::set_foreign_owner(NT("dst"));
  EXPECT_EQ(copy_ok, copy(false, row.platform));
  EXPECT_EQ(row.expected, fake::status_of(NT("dst")).permissions);
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, RunAsOwnerTest, ::testing::ValuesIn(kRunAsOwnerRows));

TEST_F(CopyEntryTest, SafeCopyFailureIsPrintedUnderQuietToo) {
  test_settings().safe_overwrite = true;
  test_settings().quiet = true;
  fake::add_file(NT("src"), "new");
  fake::add_file(NT("dst"), "old");
  fake::add_file(NT("dst_7"), "x");
  fake::set_clock(7);
  EXPECT_EQ(copy_destination_failed, copy());
  EXPECT_EQ("Safe Copy Failed.  Unable to create temporary output file\n", fake::console_output());
}

struct AReplacementThatFailsKeepsTheCompleteCopyRow {
  const char *name;
  int rename_error; // of the first rename
  bool fail_again;  // the retry fails too
  int remove_error; // 0: the destination can be removed
  CopyStatus status;
  const char *destination;
} const kAReplacementThatFailsKeepsTheCompleteCopyRows[] = {
    {"rename refused for good", EIO, true, 0, copy_replace_failed, "old"},
    {"existing name refused, then replaced", EEXIST, false, 0, copy_ok, "new"},
    {"destination cannot be removed", EEXIST, false, EBUSY, copy_replace_failed, "old"},
};

using AReplacementThatFailsKeepsTheCompleteCopyTest =
    testing_support::RowTest<CopyEntryTest, AReplacementThatFailsKeepsTheCompleteCopyRow>;

TEST_P(AReplacementThatFailsKeepsTheCompleteCopyTest, AReplacementThatFailsKeepsTheCompleteCopy) {
  const AReplacementThatFailsKeepsTheCompleteCopyRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().safe_overwrite = true;
  fake::add_file(NT("src"), "new");
  fake::add_file(NT("dst"), "old");
  fake::set_clock(42);
  fake::fail_call(fake::op_rename, row.fail_again ? 0 : 1, row.rename_error);
  if (row.remove_error)
    fake::fail_call(fake::op_remove, 1, row.remove_error);
  EXPECT_EQ(row.status, copy());
  EXPECT_EQ(row.destination, fake::content(NT("dst")));
  if (row.status == copy_ok) {
    EXPECT_FALSE(fake::exists(NT("dst_42")));
  } else {
    EXPECT_EQ("new", fake::content(NT("dst_42")));
    EXPECT_EQ(NT("dst_42"), result.kept_temporary_name);
    int expected_error = row.remove_error ? row.remove_error : row.rename_error;
    EXPECT_EQ(expected_error, result.error_number);
    fake::clear_console();
    report_copy_error(result, NT("src"), NT("dst"));
    EXPECT_EQ("src ===> dst : Unable to replace destination.  " + error_text(expected_error) +
                  "  The copy is kept as dst_42\n",
              fake::console_output());
  }
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, AReplacementThatFailsKeepsTheCompleteCopyTest,
                         ::testing::ValuesIn(kAReplacementThatFailsKeepsTheCompleteCopyRows));

TEST_F(CopyEntryTest, NamesBeyondAPathBufferAreRefused) {
  nstring long_name(size_t(kPathMax) + 1, NT('n'));
  fake::add_file(NT("src"), "data");
  for (int destination = 0; destination < 2; ++destination) {
    CopyResult refused = copy_file_data(pool, request(destination ? NT("src") : long_name.c_str(),
                                                      destination ? long_name.c_str() : NT("dst")));
    EXPECT_EQ(destination ? copy_destination_failed : copy_source_failed, refused.status);
    EXPECT_EQ(ENAMETOOLONG, refused.error_number);
  }
  EXPECT_EQ(0, fake::call_count(fake::op_open));
}

// The temporary name of a destination whose name leaves no room for the
// clock reading is shortened, on both paths; where even that can't make
// room, no name is free.
struct FitRow {
  const char *name;
  bool whole_name; // the whole name leaves no room; else a 250-unit component
  bool platform;
  CopyStatus status;
} const kFitRows[] = {
    {"a 250-unit name", false, false, copy_ok},
    {"a 250-unit name, platform copy", false, true, copy_ok},
    {"no room in the whole name", true, false, copy_destination_failed},
};

using FitTest = testing_support::RowTest<CopyEntryTest, FitRow>;

TEST_P(FitTest, ATemporaryNameFitsWhereTheDestinationFits) {
  const FitRow &row = GetParam();
  SCOPED_TRACE(row.name);
  // A full name, as the engine is given: as long as a component may be, or
  // as the whole name leaves room for.
  nstring current;
  ASSERT_EQ(0, resolve_full_path(NT(""), &current));
  current += NT("/");
  const nstring destination =
      row.whole_name
          ? fake::deep_name(size_t(kPathMax))
          : current + nstring(std::min(size_t(250), size_t(kPathMax) - current.size()), NT('d'));
  test_settings().safe_overwrite = true;
  fake::add_file(NT("src"), "new");
  fake::add_file(destination, "old");
  fake::set_clock(4000000000u);
  size_t names = fake::names().size();
  CopyRequest asked = request(NT("src"), destination.c_str());
  asked.platform = row.platform;
  CopyResult made = copy_file_data(pool, asked);
  EXPECT_EQ(row.status, made.status);
  EXPECT_EQ(row.status == copy_ok ? "new" : "old", fake::content(destination));
  EXPECT_EQ(names, fake::names().size()); // no temporary file left
  if (row.status != copy_ok) {
    EXPECT_EQ(ENAMETOOLONG, made.error_number);
    EXPECT_NE(std::string::npos, fake::console_output().find("Safe Copy Failed."));
  }
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, FitTest, ::testing::ValuesIn(kFitRows));

TEST_F(CopyEntryTest, ThePlatformPathCopiesTheData) {
  fake::add_file(NT("src"), bytes_of(9));
  EXPECT_EQ(copy_ok, copy(false, true));
  EXPECT_EQ(bytes_of(9), fake::content(NT("dst")));
}

// A device or pipe at the destination is written as it is, or the copy is
// refused; it never gets the source's times or permissions, the mark of a
// partial copy, or a file in its place.
struct ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsRow {
  const char *name;
  bool pipe, platform, hidden, safe, append, restart, write_fails;
  CopyStatus status;
  const char *refused; // the report's text for status 12
} const kADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsRows[] = {
    {"plain copy", false, false, false, false, false, false, false, copy_ok, nullptr},
    {"platform copy", false, true, false, false, false, false, false, copy_ok, nullptr},
    {"source's attributes", false, false, true, false, false, false, false, copy_ok, nullptr},
    {"a failed write", false, false, false, false, false, false, true, copy_write_failed, nullptr},
    {"safe overwrite", false, true, false, true, false, false, false, copy_special_refused,
     "safely overwrite"},
    {"append", false, false, false, false, true, false, false, copy_special_refused, "append to"},
    {"restart", false, true, false, true, false, true, false, copy_special_refused,
     "restart a copy onto"},
    {"a pipe no one reads", true, false, false, false, false, false, false, copy_destination_failed,
     nullptr},
    {"a pipe no one reads, platform copy", true, true, false, false, false, false, false,
     copy_destination_failed, nullptr},
};

using ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsTest =
    testing_support::RowTest<CopyEntryTest, ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsRow>;

TEST_P(ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsTest, ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIs) {
  const ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsRow &row = GetParam();
  SCOPED_TRACE(row.name);
  test_settings().set_hidden_attributes = row.hidden;
  test_settings().safe_overwrite = row.safe;
  test_settings().append = row.append;
  fake::add_file(NT("src"), bytes_of(20));
  fake::set_permissions(NT("src"), 0600);
  fake::add_special(NT("dst"), row.pipe, 0666);
  FileStatus before = fake::status_of(NT("dst"));
  std::vector<nstring> names = fake::names();
  if (row.write_fails)
    fake::fail_call(fake::op_write, 1, EIO);
  fake::set_wall_clock(5000000);
  EXPECT_EQ(row.status, copy(row.restart, row.platform));
  if (row.pipe) {
    EXPECT_EQ(ENXIO, result.error_number);
  }
  EXPECT_STREQ(row.refused, result.refused_request);
  FileStatus after = fake::status_of(NT("dst"));
  EXPECT_FALSE(after.is_regular);
  EXPECT_EQ(before.permissions, after.permissions);
  EXPECT_EQ(before.modification_time.seconds, after.modification_time.seconds);
  EXPECT_EQ(before.access_time.seconds, after.access_time.seconds);
  EXPECT_EQ(0, fake::call_count(fake::op_platform_copy));
  EXPECT_EQ(names, fake::names()) << "nothing made beside it";
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, ADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsTest,
                         ::testing::ValuesIn(kADeviceOrPipeIsWrittenInPlaceAndLeftAsItIsRows));

// A file whose status says 4096 bytes while it holds 18 and takes no disk
// space (/sys): every path copies what reads give, never padding to 4096.
struct OverstatedRow {
  bool platform, safe, restart;
} const kOverstatedRows[] = {{false, false, false}, {true, false, false}, {false, true, false},
                             {true, true, false},   {false, false, true}, {true, false, true}};

using OverstatedTest = testing_support::RowTest<CopyEntryTest, OverstatedRow>;

TEST_P(OverstatedTest, AFileIsCopiedAsFarAsReadsReachWhateverItsSizeSays) {
  const OverstatedRow &row = GetParam();
  const std::string held = "00:00:00:00:00:00\n";
  test_settings().safe_overwrite = row.safe;
  fake::add_file(NT("src"), held);
  fake::set_reported_size(NT("src"), 4096);
  if (row.safe)
    fake::add_file(NT("dst"), "old");
  EXPECT_EQ(copy_ok, copy(row.restart, row.platform));
  EXPECT_EQ(held, fake::content(NT("dst")));
  EXPECT_TRUE(fake::holes(NT("dst")).empty());
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, OverstatedTest, ::testing::ValuesIn(kOverstatedRows));

enum Fault { none, write_fails, read_fails, seek_fails, out_of_space, service_refuses };
struct PartialRow {
  const char *name;
  Fault fault;
  bool append, restart, safe, platform, destination;
  bool marked; // the destination got the mark of a partial copy
} const kPartialRows[] = {
    {"write fails", write_fails, false, false, false, false, false, true},
    {"write fails over a file", write_fails, false, false, false, false, true, true},
    {"read fails", read_fails, false, false, false, false, true, true},
    {"append fails", write_fails, true, false, false, false, true, true},
    {"restart can't position", seek_fails, false, true, false, false, false, true},
    {"safe overwrite fails", write_fails, false, false, true, false, true, false},
    {"platform copy runs out of space", out_of_space, false, false, false, true, true, true},
    {"platform copy refused at once", service_refuses, false, false, false, true, true, false},
    {"a good copy", none, false, false, false, false, true, false},
};

// The source's time, and the time a partial copy of it gets: older than
// the source by more than the changed rule's 2 seconds.
const int64_t kPartialTimes[][2] = {{2000000, 0}, {0, -3}, {2, -1}, {-100000000, -100000003}};

using PartialTest = testing_support::RowTest<CopyEntryTest, std::tuple<PartialRow, int>>;

TEST_P(PartialTest, APartialCopyNeverLooksNewerThanItsSource) {
  const PartialRow &row = std::get<0>(GetParam());
  const int64_t *time = kPartialTimes[std::get<1>(GetParam())];
  SCOPED_TRACE(row.name + std::string(" ") + std::to_string(time[0]));
  source_modification = FileTime{time[0], 0};
  test_settings().append = row.append;
  test_settings().safe_overwrite = row.safe;
  fake::add_file(NT("src"), bytes_of(20));
  if (row.destination)
    fake::add_file(NT("dst"), "old", 3000000);
  if (row.fault == write_fails)
    fake::fail_call(fake::op_write, 1, EIO);
  if (row.fault == read_fails)
    fake::fail_call(fake::op_read, 2, EIO);
  if (row.fault == seek_fails)
    fake::fail_call(fake::op_seek, 1, EINVAL);
  if (row.fault == out_of_space) {
    fake::set_copy_chunk(4);
    fake::set_free_space(6);
  }
  if (row.fault == service_refuses)
    fake::fail_call(fake::op_platform_copy, 1, EACCES);
  fake::set_wall_clock(5000000);
  CopyStatus status = copy(row.restart, row.platform);
  EXPECT_EQ(row.fault == none, status == copy_ok) << status;
  if (!fake::exists(NT("dst")))
    return;
  FileStatus left = fake::status_of(NT("dst"));
  if (row.marked) {
    EXPECT_EQ(time[1], left.modification_time.seconds);
    EXPECT_EQ(0, left.modification_time.nanoseconds);
  } else {
    EXPECT_NE(time[1], left.modification_time.seconds);
  }
}

INSTANTIATE_TEST_SUITE_P(CopyEntry, PartialTest,
                         ::testing::Combine(::testing::ValuesIn(kPartialRows),
                                            ::testing::Range(0, 4)));

} // namespace
} // namespace zorov

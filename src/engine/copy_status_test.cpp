// The report of a failed copy: texts per status, console and LogFile twins,
// and the effect of quiet.
#include "engine/copy_status.h"

#include "engine/block_copy.h"
#include "support/copy_test_fixture.h"
#include "support/row_tests.h"
#include "support/test_settings.h"

#include <cerrno>

namespace zorov {
namespace {

class CopyStatusTest : public CopyTest {};

struct StatusRow {
  CopyStatus status;
  int error_number;
  std::string console;
  std::string log;
};

std::vector<StatusRow> status_rows() {
  const std::string missing = error_text(ENOENT);
  const std::string full = error_text(ENOSPC);
  return {
      {copy_source_failed, ENOENT, " : Unable to open input.  " + missing + "\n",
       " : Unable to open input.  " + missing + "\n"},
      {copy_destination_failed, ENOENT, " : Unable to open output.  " + missing + "\n",
       " : Unable to open output.  " + missing + "\n"},
      {copy_read_failed, ENOENT, " : Read error.  " + missing + "\n",
       " : Read error.  " + missing + "\n"},
      {copy_write_failed, ENOSPC, " : Write error.   " + full + "\n",
       " : Write error.  " + full + "\n"},
      {copy_same_file, 0, " : Source, Destination are same file.\n\n",
       " : Source, Destination are same file.\n"},
      {copy_stream_archive, 0, " : Failed.  Can not archive to a stream.\n\n",
       " : Failed.  Can not archive to a stream.\n"},
      {copy_platform_failed, 5, " : Error 8 5 " + system_message(5) + "\n",
       " : Error 8 5 " + system_message(5) + "\n"},
      {copy_unexamined, 5, " : Error -1 5 " + system_message(5) + "\n",
       " : Error -1 5 " + system_message(5) + "\n"},
  };
}

using StatusTextTest = testing_support::RowTest<CopyStatusTest, StatusRow>;

TEST_P(StatusTextTest, EachStatusHasItsTexts) {
  const StatusRow &row = GetParam();
  const std::string pair = "/s/a.txt ===> /d/a.txt";
  open_log();
  report_copy_error(copy_failure(row.status, row.error_number), NT("/s/a.txt"), NT("/d/a.txt"));
  EXPECT_EQ(pair + row.console, fake::console_output());
  EXPECT_EQ("", fake::console_error());
  EXPECT_EQ(pair + row.log, log_text());
}

INSTANTIATE_TEST_SUITE_P(CopyStatus, StatusTextTest, ::testing::ValuesIn(status_rows()));

using QuietStatusTest = testing_support::RowTest<CopyStatusTest, CopyStatus>;

TEST_P(QuietStatusTest, QuietLeavesOnlyTheLogFile) {
  const CopyStatus status = GetParam();
  test_settings().quiet = true;
  open_log();
  report_copy_error(copy_failure(status, EIO), NT("s"), NT("d"));
  EXPECT_EQ("", fake::console_output());
  EXPECT_EQ(status == copy_write_failed
                ? "s ===> d : Write error.  " + error_text(EIO) + "\n"
                : std::string("s ===> d : Source, Destination are same file.\n"),
            log_text());
}

INSTANTIATE_TEST_SUITE_P(CopyStatus, QuietStatusTest,
                         ::testing::Values(copy_write_failed, copy_same_file));

TEST_F(CopyStatusTest, WithoutLogFileOnlyTheConsoleGetsTheReport) {
  report_copy_error(copy_failure(copy_destination_failed, EACCES), NT("s"), NT("d"));
  EXPECT_EQ("s ===> d : Unable to open output.  " + error_text(EACCES) + "\n",
            fake::console_output());
  EXPECT_FALSE(fake::exists(NT("run.log")));
}

TEST_F(CopyStatusTest, AFailedReplacementNamesTheKeptCopy) {
  open_log();
  CopyResult kept = copy_failure(copy_replace_failed, EACCES);
  kept.kept_temporary_name = NT("/d/a.txt_123");
  report_copy_error(kept, NT("/s/a.txt"), NT("/d/a.txt"));
  std::string line = "/s/a.txt ===> /d/a.txt : Unable to replace destination.  " +
                     error_text(EACCES) + "  The copy is kept as /d/a.txt_123\n";
  EXPECT_EQ(line, fake::console_output());
  EXPECT_EQ(line, log_text());
}

} // namespace
} // namespace zorov

// The report of a failed copy: texts per status, console and LogFile twins,
// and the effect of quiet.
#include "engine/copy_status.h"

#include "engine/block_copy.h"
#include "engine/copy_test_fixture.h"

#include <cerrno>

namespace zorov {
namespace {

class CopyStatusTest : public CopyTest {};

TEST_F(CopyStatusTest, EachStatusHasItsTexts) {
  const std::string pair = "/s/a.txt ===> /d/a.txt";
  const std::string missing = error_text(ENOENT);
  const std::string full = error_text(ENOSPC);
  struct Row {
    int status;
    int error_number;
    std::string console;
    std::string log;
  } rows[] = {
      {1, ENOENT, " : Unable to open input.  " + missing + "\n",
       " : Unable to open input.  " + missing + "\n"},
      {2, ENOENT, " : Unable to open output.  " + missing + "\n",
       " : Unable to open output.  " + missing + "\n"},
      {3, ENOENT, " : Read error.  " + missing + "\n", " : Read error.  " + missing + "\n"},
      {4, ENOSPC, " : Write error.   " + full + "\n", " : Write error.  " + full + "\n"},
      {6, 0, " : Source, Destination are same file.\n\n",
       " : Source, Destination are same file.\n"},
      {7, 0, " : Failed.  Can not archive to a stream.\n\n",
       " : Failed.  Can not archive to a stream.\n"},
      {8, 0, " : Error 8 5 " + system_message(5) + "\n",
       " : Error 8 5 " + system_message(5) + "\n"},
      {-1, 0, " : Error -1 5 " + system_message(5) + "\n",
       " : Error -1 5 " + system_message(5) + "\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.status);
    SetUp();
    open_log();
    last_error = 5;
    errno = row.error_number;
    report_copy_error(row.status, NT("/s/a.txt"), NT("/d/a.txt"));
    EXPECT_EQ(pair + row.console, fake::console_output());
    EXPECT_EQ("", fake::console_error());
    EXPECT_EQ(pair + row.log, log_text());
  }
}

TEST_F(CopyStatusTest, QuietLeavesOnlyTheLogFile) {
  for (int status : {4, 6}) {
    SetUp();
    options.quiet = true;
    open_log();
    errno = EIO;
    report_copy_error(status, NT("s"), NT("d"));
    EXPECT_EQ("", fake::console_output());
    EXPECT_EQ(status == 4 ? "s ===> d : Write error.  " + error_text(EIO) + "\n"
                          : std::string("s ===> d : Source, Destination are same file.\n"),
              log_text());
  }
}

TEST_F(CopyStatusTest, WithoutLogFileOnlyTheConsoleGetsTheReport) {
  errno = EACCES;
  report_copy_error(2, NT("s"), NT("d"));
  EXPECT_EQ("s ===> d : Unable to open output.  " + error_text(EACCES) + "\n",
            fake::console_output());
  EXPECT_FALSE(fake::exists(NT("run.log")));
}

TEST_F(CopyStatusTest, AFailedReplacementNamesTheKeptCopy) {
  open_log();
  kept_temporary_name = NT("/d/a.txt_123");
  last_error = EACCES;
  errno = 0;
  report_copy_error(copy_replace_failed, NT("/s/a.txt"), NT("/d/a.txt"));
  std::string line = "/s/a.txt ===> /d/a.txt : Unable to replace destination.  " +
                     error_text(EACCES) + "  The copy is kept as /d/a.txt_123\n";
  EXPECT_EQ(line, fake::console_output());
  EXPECT_EQ(line, log_text());
}

} // namespace
} // namespace zorov

#include "cli/base/error_level.h"
#include "cli/flags.h"

#include "cli/base/messages.h"
#include "cli/base/options.h"
#include "naming/exclusion.h"
#include "platform/path_syntax.h"
#include "platform/platform.h"
#include "support/fresh_run.h"
#include "support/platform_fake.h"
#include "support/record_fields.h"
#include "support/row_tests.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace zorov {
namespace {

const int kReturned = -1;

class FlagsTest : public testing_support::FreshRun {
protected:
  // Runs the parser on the program name followed by `arguments`; the exit
  // code, or kReturned when the parser returned.
  int parse(const std::vector<nstring> &arguments) {
    storage_.assign(1, NT("zorov"));
    storage_.insert(storage_.end(), arguments.begin(), arguments.end());
    argv_.clear();
    for (nstring &argument : storage_)
      argv_.push_back(&argument[0]);
    argv_.push_back(nullptr);
    try {
      parse_flags(int(storage_.size()), argv_.data());
    } catch (const fake::ProcessExit &exit) {
      return exit.code;
    }
    return kReturned;
  }

  std::vector<nstring> storage_;
  std::vector<nchar *> argv_;
};

struct SettingRow {
  std::vector<nstring> arguments;
  std::function<void(CopyOptions *)> expect;
};

const SettingRow kSettingRows[] = {
    {{}, [](CopyOptions *) {}},
    {{NT("-a")}, [](CopyOptions *o) { o->archive = true; }},
    {{NT("-A")}, [](CopyOptions *o) { o->archive = true; }},
    {{NT("-b")}, [](CopyOptions *o) { o->batch = true; }},
    {{NT("-c")}, [](CopyOptions *o) { o->changed_only = 1; }},
    {{NT("-c5")}, [](CopyOptions *o) { o->changed_only = 1, o->time_tolerance_seconds = 5; }},
    {{NT("-c0")}, [](CopyOptions *o) { o->changed_only = 1; }},
    {{NT("-c-3")}, [](CopyOptions *o) { o->changed_only = 1; }},
    {{NT("-c7"), NT("-c0")},
     [](CopyOptions *o) { o->changed_only = 1, o->time_tolerance_seconds = 7; }},
    {{NT("-cr5")}, [](CopyOptions *o) { o->changed_only = 1, o->existing_only = 1; }},
    {{NT("-CR")}, [](CopyOptions *o) { o->changed_only = 1, o->existing_only = 1; }},
    {{NT("-d")}, [](CopyOptions *o) { o->report_buffers = true; }},
    {{NT("-e")}, [](CopyOptions *o) { o->append = true; }},
    {{NT("-f")}, [](CopyOptions *o) { o->platform_copy = true; }},
    {{NT("-a"), NT("-e")}, [](CopyOptions *o) { o->archive = true, o->append = true; }},
    {{NT("-g7")}, [](CopyOptions *o) { o->archive = true, o->generations = 7; }},
    {{NT("-g1")}, [](CopyOptions *o) { o->archive = true, o->generations = 1; }},
    {{NT("-g99")}, [](CopyOptions *o) { o->archive = true, o->generations = 99; }},
    {{NT("-g")}, [](CopyOptions *o) { o->archive = true; }},
    {{NT("-g0")}, [](CopyOptions *o) { o->archive = true; }},
    {{NT("-g100")}, [](CopyOptions *o) { o->archive = true, o->generations = 99; }},
    {{NT("-g-5")}, [](CopyOptions *o) { o->archive = true; }},
    {{NT("-g"), NT("-e")}, [](CopyOptions *o) { o->archive = true, o->append = true; }},
    {{NT("-h")}, [](CopyOptions *o) { o->copy_hidden = true; }},
    {{NT("-h+")}, [](CopyOptions *o) { o->copy_hidden = true, o->set_hidden_attributes = true; }},
    {{NT("-hx")}, [](CopyOptions *o) { o->copy_hidden = true; }},
    {{NT("-id")}, [](CopyOptions *o) { o->identify_only = true; }},
    {{NT("-ID")}, [](CopyOptions *o) { o->identify_only = true; }},
    {{NT("-k1")}, [](CopyOptions *o) { o->block_size = 1024, o->block_size_arg = 1; }},
    {{NT("-k32")}, [](CopyOptions *o) { o->block_size = 32768, o->block_size_arg = 32; }},
    {{NT("-k63")}, [](CopyOptions *o) { o->block_size = 64512, o->block_size_arg = 63; }},
    {{NT("-k64")}, [](CopyOptions *o) { o->block_size = 64, o->block_size_arg = 64; }},
    {{NT("-k4096")}, [](CopyOptions *o) { o->block_size = 4096, o->block_size_arg = 4096; }},
    {{NT("-k")}, [](CopyOptions *) {}},
    {{NT("-k0")}, [](CopyOptions *) {}},
    {{NT("-k32"), NT("-k0")}, [](CopyOptions *o) { o->block_size = 32768; }},
    {{NT("-k-1")},
     [](CopyOptions *o) { o->block_size = 4294967295u, o->block_size_arg = 4294967295u; }},
    {{NT("-k99999999999")},
     [](CopyOptions *o) { o->block_size = 2147483647u, o->block_size_arg = 2147483647u; }},
    {{NT("-l-")}, [](CopyOptions *o) { o->log_up_to_date = false; }},
    {{NT("-L-")}, [](CopyOptions *o) { o->log_up_to_date = false; }},
    {{NT("-m")}, [](CopyOptions *o) { o->move = true; }},
    {{NT("-n")}, [](CopyOptions *o) { o->newer_only = 1; }},
    {{NT("-nr")}, [](CopyOptions *o) { o->newer_only = 1, o->existing_only = 1; }},
    {{NT("-n12")}, [](CopyOptions *o) { o->newer_only = 1, o->time_tolerance_seconds = 12; }},
    {{NT("-o")}, [](CopyOptions *o) { o->overwrite_read_only = true; }},
    {{NT("-os")}, [](CopyOptions *o) { o->safe_overwrite = true; }},
    {{NT("-OS")}, [](CopyOptions *o) { o->safe_overwrite = true; }},
    {{NT("-p")}, [](CopyOptions *o) { o->checkpoint = true; }},
    {{NT("-pr")}, [](CopyOptions *o) { o->checkpoint = true, o->restart = true; }},
    {{NT("-q")}, [](CopyOptions *o) { o->quiet = true; }},
    {{NT("-r")}, [](CopyOptions *o) { o->existing_only = 1; }},
    {{NT("-rc")}, [](CopyOptions *o) { o->existing_only = 1, o->changed_only = 1; }},
    {{NT("-rn")}, [](CopyOptions *o) { o->existing_only = 1, o->newer_only = 1; }},
    {{NT("-s")}, [](CopyOptions *o) { o->recurse = true; }},
    {{NT("-sv")}, [](CopyOptions *o) { o->recurse = true, o->verbose_recursion = true; }},
    {{NT("-t")}, [](CopyOptions *o) { o->timing = true; }},
    {{NT("-to")}, [](CopyOptions *o) { o->timing = true; }},
    {{NT("-w")}, [](CopyOptions *o) { o->newer_only = 1, o->compare_versions = 1; }},
    {{NT("-wr")},
     [](CopyOptions *o) { o->newer_only = 1, o->compare_versions = 1, o->existing_only = 1; }},
    {{NT("-w9")},
     [](CopyOptions *o) {
       o->newer_only = 1, o->compare_versions = 1, o->time_tolerance_seconds = 9;
     }},
    {{NT("-i10K/2")},
     [](CopyOptions *o) {
       o->pace_input = true, o->pace_input_bytes = 10240, o->pace_input_interval_ms = 2000;
     }},
    {{NT("-i10k/2")},
     [](CopyOptions *o) {
       o->pace_input = true, o->pace_input_bytes = 10240, o->pace_input_interval_ms = 2000;
     }},
    {{NT("-o100K/10")},
     [](CopyOptions *o) {
       o->pace_output = true, o->pace_output_bytes = 102400, o->pace_output_interval_ms = 10000;
     }},
    {{NT("-i10/0")},
     [](CopyOptions *o) { o->pace_input_bytes = 10, o->pace_input_interval_ms = 0; }},
    {{NT("-i0/5")}, [](CopyOptions *o) { o->pace_input_interval_ms = 5000; }},
    {{NT("-i5")}, [](CopyOptions *) {}},
    {{NT("-i")}, [](CopyOptions *) {}},
    {{NT("-i5/1"), NT("-i5")},
     [](CopyOptions *o) { o->pace_input_bytes = 5, o->pace_input_interval_ms = 1000; }},
    {{NT("-i10K/1"), NT("-i20/1")},
     [](CopyOptions *o) {
       o->pace_input = true, o->pace_input_bytes = 20, o->pace_input_interval_ms = 1000;
     }},
    {{NT("-o5/1"), NT("-i5/1")},
     [](CopyOptions *o) {
       o->pace_output = true, o->pace_output_bytes = 5, o->pace_output_interval_ms = 1000;
       o->pace_input_bytes = 5, o->pace_input_interval_ms = 1000;
     }},
    {{NT("-i5/1"), NT("-o5/1")},
     [](CopyOptions *o) {
       o->pace_input = true, o->pace_input_bytes = 5, o->pace_input_interval_ms = 1000;
       o->pace_output_bytes = 5, o->pace_output_interval_ms = 1000;
     }},
    // The interval wraps modulo 2^32 after the factor of 1000.
    {{NT("-i5/4294968")},
     [](CopyOptions *o) {
       o->pace_input = true, o->pace_input_bytes = 5, o->pace_input_interval_ms = 704;
     }},
    {{NT("-i5/2147484")},
     [](CopyOptions *o) { o->pace_input_bytes = 5, o->pace_input_interval_ms = -2147483296; }},
    // Kilobytes that wrap around to no bytes at all leave pacing off.
    {{NT("-i4194304K/1")}, [](CopyOptions *o) { o->pace_input_interval_ms = 1000; }},
    {{NT("-o/1")}, [](CopyOptions *o) { o->pace_output_interval_ms = 1000; }},
    {{NT("-q"), NT("-s"), NT("src"), NT("-b")},
     [](CopyOptions *o) { o->quiet = true, o->recurse = true, o->first_operand = 3; }},
};

using FlagsSettingTest = testing_support::RowTest<FlagsTest, SettingRow>;

// The whole record is compared, so that a row also catches a flag that sets
// more than it should.
TEST_P(FlagsSettingTest, EachSpellingSetsExactlyItsFields) {
  const SettingRow &row = GetParam();
  CopyOptions expected;
  row.expect(&expected);
  if (expected.first_operand == 1)
    expected.first_operand = int32_t(row.arguments.size()) + 1;
  ASSERT_EQ(parse(row.arguments), kReturned);
  EXPECT_EQ(testing_support::fields_of(options), testing_support::fields_of(expected))
      << "arguments from "
      << narrow_text(row.arguments.empty() ? NT("") : row.arguments[0].c_str());
}

INSTANTIATE_TEST_SUITE_P(Spellings, FlagsSettingTest, ::testing::ValuesIn(kSettingRows));

struct MessageRow {
  std::vector<nstring> arguments;
  int exit_code;
  std::string error; // standard error
};

const std::string stopping = "ZOROV is stopping due to unknown/invalid flags!\n";
const std::string archive_conflict =
    "Can not use -E (copy to end) in conjunction with \nthe -A (archive) flag.\n";
const std::string forks_conflict =
    "Can not use -E (Copy to end) in conjunction with -F (Copy Forks).\n";
const std::string generations_conflict =
    "Can not use -E (copy to end) in conjunction with \nthe -G (archive) flag.\n";

const MessageRow kMessageRows[] = {
    {{NT("-g")}, kReturned, "-g Invalid.  5 generations will be saved.\n"},
    {{NT("-g0")}, kReturned, "-g0 Invalid.  5 generations will be saved.\n"},
    {{NT("-g100")}, kReturned, "-g100 Invalid.  99 generations will be saved.\n"},
    {{NT("-q"), NT("-g100")}, kReturned, ""},
    {{NT("-g100"), NT("-q")}, kReturned, "-g100 Invalid.  99 generations will be saved.\n"},
    {{NT("-i10K/2")}, kReturned, "Input pacing set o 10240 bytes / 2000 milliseconds.\n"},
    {{NT("-o100K/10")}, kReturned, "Pace output to 102400 bytes / 10000 milliseconds.\n"},
    {{NT("-q"), NT("-i10K/2")}, kReturned, ""},
    {{NT("-i5")}, kReturned, "Input pacing interval not specified.  Input pacing disabled.\n"},
    {{NT("-o5")}, kReturned, "Output pacing not specified.  Output pacing disabled.\n"},
    {{NT("-i10/0")},
     kReturned,
     "Input pacing interval <=0.  Input pacing disabled.\n"
     "Input pacing set o 10 bytes / 0 milliseconds.\n"},
    {{NT("-i0/5")},
     kReturned,
     "Input pacing size <=0.  Input pacing disabled.\n"
     "Input pacing set o 0 bytes / 5000 milliseconds.\n"},
    {{NT("-i0/0")},
     kReturned,
     "Input pacing interval <=0.  Input pacing disabled.\n"
     "Input pacing size <=0.  Input pacing disabled.\n"
     "Input pacing set o 0 bytes / 0 milliseconds.\n"},
    {{NT("-o5/0")},
     kReturned,
     "Output pacing interval <= 0.  Output pacing disabled.\n"
     "Pace output to 5 bytes / 0 milliseconds.\n"},
    {{NT("-o0/1")},
     kReturned,
     "Output pacing size <= 0.  Output pacing disabled.\n"
     "Pace output to 0 bytes / 1000 milliseconds.\n"},
    {{NT("-o5/1"), NT("-i5/1")},
     kReturned,
     "Pace output to 5 bytes / 1000 milliseconds.\n"
     "Output pacing previously specified.  Input pacing disabled.\n"},
    {{NT("-i5/1"), NT("-o5/1")},
     kReturned,
     "Input pacing set o 5 bytes / 1000 milliseconds.\n"
     "Input pacing previously specified.  Output pacing disabled.\n"},
    {{NT("-e"), NT("-a")}, level_bad_flags, archive_conflict + stopping},
    {{NT("-e"), NT("-f")}, level_bad_flags, forks_conflict + stopping},
    {{NT("-f"), NT("-e")}, level_bad_flags, forks_conflict + stopping},
    {{NT("-e"), NT("-g5")}, level_bad_flags, generations_conflict + stopping},
    {{NT("-q"), NT("-e"), NT("-a")}, level_bad_flags, stopping},
    {{NT("-y")}, level_bad_flags, "-y <=== Unknown Flag.\n" + stopping},
    {{NT("-y"), NT("-J"), NT("-u"), NT("-v"), NT("-Z")},
     level_bad_flags,
     "-y <=== Unknown Flag.\n-J <=== Unknown Flag.\n-u <=== Unknown Flag.\n"
     "-v <=== Unknown Flag.\n-Z <=== Unknown Flag.\n" +
         stopping},
    {{NT("-")}, level_bad_flags, "- <=== Unknown Flag.\n" + stopping},
    {{NT("-?")}, level_bad_flags, "-? <=== Unknown Flag.\n" + stopping},
    {{NT("-1")}, level_bad_flags, "-1 <=== Unknown Flag.\n" + stopping},
    {{NT("-\xe9")}, level_bad_flags, narrow_text(NT("-\xe9")) + " <=== Unknown Flag.\n" + stopping},
    {{NT("-y"), NT("-q")}, level_bad_flags, "-y <=== Unknown Flag.\n" + stopping},
    {{NT("-q"), NT("-y")}, level_bad_flags, stopping},
    {{NT("-x*.tmp"), NT("-y")}, level_stopped, "-x*.tmp <=== Invalid.\n"},
    {{NT("-q"), NT("-x*.tmp")}, level_stopped, "-x*.tmp <=== Invalid.\n"},
    {{NT("-s"), NT("-x")}, level_stopped, "-x <=== Invalid.\n"},
    {{NT("-y"), NT("-x*.tmp")}, level_stopped, "-y <=== Unknown Flag.\n-x*.tmp <=== Invalid.\n"},
    {{NT("-x"), NT("*.tmp"), NT("-y")}, level_bad_flags, "-y <=== Unknown Flag.\n" + stopping},
};

using FlagsMessageTest = testing_support::RowTest<FlagsTest, MessageRow>;

TEST_P(FlagsMessageTest, MessagesOnStandardErrorAndExitCodes) {
  const MessageRow &row = GetParam();
  EXPECT_EQ(parse(row.arguments), row.exit_code) << narrow_text(row.arguments[0].c_str());
  EXPECT_EQ(fake::console_error(), row.error) << narrow_text(row.arguments[0].c_str());
  EXPECT_EQ(fake::console_output(), "");
}

INSTANTIATE_TEST_SUITE_P(Flags, FlagsMessageTest, ::testing::ValuesIn(kMessageRows));

TEST_F(FlagsTest, TooLongPacingTextIsRefused) {
  nstring text = NT("-i5/1");
  text.append(size_t(kPathMax), NT(' '));
  EXPECT_EQ(parse({NT("-o5/1"), NT("-i5/1"), text}), kReturned);
  EXPECT_FALSE(options.pace_input);
  EXPECT_TRUE(options.pace_output);
  EXPECT_NE(fake::console_error().find("Input pacing text too long.  Input pacing disabled.\n"),
            std::string::npos);
}

TEST_F(FlagsTest, OperandsBeginAtTheFirstArgumentThatIsNoFlag) {
  EXPECT_EQ(parse({NT("-s"), NT("src"), NT("-q"), NT("dst")}), kReturned);
  EXPECT_EQ(options.first_operand, 2);
  EXPECT_FALSE(options.quiet);
}

TEST_F(FlagsTest, AnEmptyArgumentIsTheFirstOperand) {
  EXPECT_EQ(parse({NT(""), NT("-s")}), kReturned);
  EXPECT_EQ(options.first_operand, 1);
  EXPECT_FALSE(options.recurse);
}

// The slash spelling of flags exists only where paths use backslashes.
TEST_F(FlagsTest, ASlashBeginsAFlagOnlyWhereItIsNoSeparatorAlone) {
  EXPECT_EQ(parse({NT("/src/a"), NT("dst")}), kReturned);
  bool slash_flags = slash_begins_flags(native_path_style);
  EXPECT_EQ(options.recurse, slash_flags);
  EXPECT_EQ(options.first_operand, slash_flags ? 2 : 1);
}

TEST_F(FlagsTest, AnUnknownSlashFlagStopsOnlyWhereSlashesBeginFlags) {
  EXPECT_EQ(parse({NT("/?"), NT("dst")}),
            slash_begins_flags(native_path_style) ? level_bad_flags : kReturned);
}

// The shell completion offers these spellings: each must be a flag the
// parser takes, and every letter of the table must be offered.
std::vector<std::string> offered_spellings() {
  std::vector<std::string> spellings;
  std::istringstream words(flag_spellings());
  for (std::string word; words >> word;)
    spellings.push_back(word);
  return spellings;
}

using OfferedSpellingTest = testing_support::RowTest<FlagsTest, std::string>;

TEST_P(OfferedSpellingTest, EveryOfferedSpellingIsTaken) {
  const std::string &word = GetParam();
  EXPECT_EQ(parse({nstring(word.begin(), word.end()), NT("list"), NT("src"), NT("dst")}),
            kReturned);
}

INSTANTIATE_TEST_SUITE_P(Completion, OfferedSpellingTest, ::testing::ValuesIn(offered_spellings()));

TEST(FlagSpellings, EveryLetterIsOffered) {
  std::string letters;
  for (const std::string &word : offered_spellings())
    if (letters.find(char(ascii_upper(word[1]))) == std::string::npos)
      letters += char(ascii_upper(word[1]));
  EXPECT_EQ(letters, "ABCDEFGHIKLMNOPQRSTWX");
}

TEST_F(FlagsTest, BareExclusionFlagTakesTheNextArgumentWhateverItIs) {
  EXPECT_EQ(parse({NT("-x"), NT("*.tmp"), NT("src"), NT("dst")}), kReturned);
  EXPECT_EQ(options.first_operand, 3);
  ASSERT_NE(options.exclusions, nullptr);
  EXPECT_EQ(nstring(options.exclusions->pattern), NT("*.TMP"));
}

TEST_F(FlagsTest, BareExclusionFlagTakesAFlagAsItsPattern) {
  EXPECT_EQ(parse({NT("-x"), NT("-s"), NT("-q"), NT("src")}), kReturned);
  EXPECT_FALSE(options.recurse);
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(options.first_operand, 4);
  EXPECT_EQ(nstring(options.exclusions->pattern), NT("-S"));
}

TEST_F(FlagsTest, ASecondExclusionFlagReplacesTheFirst) {
  EXPECT_EQ(parse({NT("-x=a.txt"), NT("-X=b.txt")}), kReturned);
  EXPECT_EQ(nstring(options.exclusions->pattern), NT("B.TXT"));
  EXPECT_EQ(options.exclusions->next, nullptr);
}

TEST_F(FlagsTest, MalformedExclusionFlagKeepsTheLogOpen) {
  EXPECT_EQ(parse({NT("-lrun.log"), NT("-x*.tmp")}), level_stopped);
  EXPECT_NE(log_file, nullptr);
  EXPECT_EQ(fake::content(NT("run.log")), local_time_text());
}

TEST_F(FlagsTest, LogFileHoldsTimeStampLaterMessagesAndTheCommandLine) {
  fake::set_wall_clock(315626635);
  fake::add_file(NT("run.log"), "earlier run\n");
  EXPECT_EQ(parse({NT("-g0"), NT("-lrun.log"), NT("-g100"), NT("-i10K/2"), NT("src"), NT("dst")}),
            kReturned);
  EXPECT_EQ(fake::content(NT("run.log")),
            "earlier run\n" + local_time_text() +
                "-g100 Invalid.  99 generations will be saved.\n"
                "Input Pacing set to 10240 bytes / 2000 milliseconds.\n"
                "zorov -g0 -lrun.log -g100 -i10K/2 src dst \n");
  EXPECT_EQ(local_time_text().size(), 25u);
}

TEST_F(FlagsTest, LogFileGetsTheOutputPacingTwinEvenWhenQuiet) {
  EXPECT_EQ(parse({NT("-q"), NT("-l=run.log"), NT("-o100K/10")}), kReturned);
  EXPECT_EQ(fake::console_error(), "");
  EXPECT_EQ(fake::content(NT("run.log")), local_time_text() +
                                              "Output pacing set to 102400 bytes / 10000 "
                                              "milliseconds.\nzorov -q -l=run.log -o100K/10 \n");
}

TEST_F(FlagsTest, LogNameMayFollowABlankOrAnEqualsSign) {
  EXPECT_EQ(parse({NT("-l run.log")}), kReturned);
  EXPECT_TRUE(fake::exists(NT("run.log")));
  EXPECT_FALSE(fake::exists(NT(" run.log")));
}

TEST_F(FlagsTest, StoppingMessageIsLoggedAndTheLogsClosed) {
  EXPECT_EQ(parse({NT("-Lrun.log"), NT("-y"), NT("src")}), level_bad_flags);
  EXPECT_EQ(fake::content(NT("run.log")), local_time_text() +
                                              "Copied files will be logged to run.log.fil\n"
                                              "-y <=== Unknown Flag.\n"
                                              "ZOROV is stopping due to unknown/invalid flags!\n");
  EXPECT_EQ(log_file, nullptr);
  EXPECT_EQ(copied_list, nullptr);
  EXPECT_EQ(fake::open_text_count(), 0);
}

TEST_F(FlagsTest, UpperCaseLAlsoOpensTheCopiedListAfresh) {
  fake::add_file(NT("log"), "old\n");
  fake::add_file(NT("log.fil"), "old copied\n");
  EXPECT_EQ(parse({NT("-Llog")}), kReturned);
  EXPECT_NE(copied_list, nullptr);
  EXPECT_EQ(fake::content(NT("log.fil")), "");
  EXPECT_EQ(fake::content(NT("log")),
            "old\n" + local_time_text() + "Copied files will be logged to log.fil\nzorov -Llog \n");
}

TEST_F(FlagsTest, LowerCaseLOpensNoCopiedList) {
  EXPECT_EQ(parse({NT("-llog")}), kReturned);
  EXPECT_EQ(copied_list, nullptr);
  EXPECT_FALSE(fake::exists(NT("log.fil")));
}

TEST_F(FlagsTest, LogFlagWithAMinusOpensNothing) {
  EXPECT_EQ(parse({NT("-L-")}), kReturned);
  EXPECT_EQ(log_file, nullptr);
  EXPECT_EQ(copied_list, nullptr);
  EXPECT_EQ(fake::call_count(fake::op_open_text), 0);
}

const char kLogFailure[] = "Unable to Open /no/such/run.log\n"
                           "Logging will be disabled.  Quiet will be disabled.\n";

TEST_F(FlagsTest, FailedLogFileTurnsQuietOff) {
  EXPECT_EQ(parse({NT("-q"), NT("-l/no/such/run.log")}), kReturned);
  EXPECT_FALSE(options.quiet);
  EXPECT_EQ(log_file, nullptr);
  EXPECT_EQ(fake::console_error(), kLogFailure);
}

TEST_F(FlagsTest, FailedLogFileLeavesALaterQuietOn) {
  EXPECT_EQ(parse({NT("-l/no/such/run.log"), NT("-q")}), kReturned);
  EXPECT_TRUE(options.quiet);
  EXPECT_EQ(fake::console_error(), kLogFailure);
}

TEST_F(FlagsTest, FailedCopiedListIsReportedOnConsoleAndLogged) {
  fake::fail_call(fake::op_open_text, 2, EACCES);
  EXPECT_EQ(parse({NT("-Lrun.log")}), kReturned);
  EXPECT_EQ(copied_list, nullptr);
  EXPECT_EQ(fake::console_error(),
            "Unable to Open run.log.fil\nLogging of copied files will be disabled.\n");
  EXPECT_EQ(fake::content(NT("run.log")), local_time_text() +
                                              "Logging of copied files will be disabled.\n"
                                              "zorov -Lrun.log \n");
}

TEST_F(FlagsTest, FailedCopiedListIsNotShownWhenQuiet) {
  fake::fail_call(fake::op_open_text, 2, EACCES);
  EXPECT_EQ(parse({NT("-q"), NT("-Lrun.log")}), kReturned);
  EXPECT_EQ(fake::console_error(), "");
}

TEST_F(FlagsTest, CopiedListOpensEvenWhenTheLogFileFails) {
  fake::fail_call(fake::op_open_text, 1, EACCES);
  EXPECT_EQ(parse({NT("-Lrun.log")}), kReturned);
  EXPECT_EQ(log_file, nullptr);
  EXPECT_NE(copied_list, nullptr);
  EXPECT_EQ(fake::console_error(),
            "Unable to Open run.log\nLogging will be disabled.  Quiet will be disabled.\n");
}

TEST_F(FlagsTest, SecondLogFileClosesTheFirst) {
  EXPECT_EQ(parse({NT("-lone.log"), NT("-ltwo.log"), NT("-g0")}), kReturned);
  EXPECT_EQ(fake::open_text_count(), 1);
  EXPECT_EQ(fake::content(NT("one.log")), local_time_text());
  EXPECT_NE(fake::content(NT("two.log")).find("-g0 Invalid."), std::string::npos);
}

struct LengthRow {
  const nchar *flag;
  size_t name_length;
  int opens_tried;
};

const size_t kMax = size_t(kPathMax);
const LengthRow kLengthRows[] = {
    {NT("-l"), kMax, 1},     {NT("-l"), kMax + 1, 0}, {NT("-l="), kMax + 1, 0},
    {NT("-L"), kMax - 4, 2}, {NT("-L"), kMax - 3, 0}, {NT("-L"), kMax, 0},
};

using FlagsLengthTest = testing_support::RowTest<FlagsTest, LengthRow>;

TEST_P(FlagsLengthTest, OverlongLogNamesAreNeverOpened) {
  const LengthRow &row = GetParam();
  nstring argument = row.flag + nstring(row.name_length, NT('n'));
  EXPECT_EQ(parse({argument}), kReturned);
  // The LogFile is opened; the CopiedList's name is looked at before
  // anything is made for it.
  int names_tried =
      (fake::call_count(fake::op_open_text) > 0 ? 1 : 0) + fake::call_count(fake::op_status);
  EXPECT_EQ(names_tried, row.opens_tried) << narrow_text(row.flag) << " " << row.name_length;
  if (row.opens_tried == 0) {
    EXPECT_EQ(fake::console_error().find("Unable to Open "), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(LogNames, FlagsLengthTest, ::testing::ValuesIn(kLengthRows));

struct NumberRow {
  const nchar *text;
  int32_t value;
};

TEST_F(FlagsTest, NumbersReadLikeTheRuntimeDecimalReader) {
  const NumberRow rows[] = {
      {NT(""), 0},
      {NT("5"), 5},
      {NT("  7"), 7},
      {NT("\t-3"), -3},
      {NT("+4"), 4},
      {NT("0010"), 10},
      {NT("12abc"), 12},
      {NT("abc"), 0},
      {NT("-"), 0},
      {NT("- 5"), 0},
      {NT("2147483647"), 2147483647},
      {NT("2147483648"), 2147483647},
      {NT("-2147483648"), -2147483647 - 1},
      {NT("-2147483649"), -2147483647 - 1},
      {NT("99999999999999999999999999999"), 2147483647},
      {NT("-99999999999999999999999999999"), -2147483647 - 1},
  };
  // -k keeps the number it read as it stands.
  for (const NumberRow &row : rows) {
    EXPECT_EQ(parse({NT("-k") + nstring(row.text)}), kReturned);
    EXPECT_EQ(options.block_size_arg, uint32_t(row.value)) << narrow_text(row.text);
  }
}

} // namespace
} // namespace zorov

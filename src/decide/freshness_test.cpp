#include "decide/freshness.h"

#include "support/run_test_support.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>
#include <limits>

namespace zorov {
namespace {

using testing_support::run_program;
using testing_support::shown;

const int64_t kMost = std::numeric_limits<int64_t>::max();
const int64_t kLeast = std::numeric_limits<int64_t>::min();

class Freshness : public testing_support::FreshRun {};

// One comparison of the newer rule: the settings, the two stamps, and what
// the rule decides and the text it gives for the LogFile.
struct NewerRow {
  const char *what;
  int32_t compare_versions;
  int32_t tolerance;
  uint32_t source_ms, source_ls, destination_ms, destination_ls;
  int64_t source_time, destination_time;
  bool skip;
  const char *text;
  bool always_logged;
};

const char kNewerVersion[] = " : Destination has newer version.\n";
const char kOlderVersion[] = " : Destination has older version.\n";
const char kOlder[] = " : Destination is older.\n";
const char kNewer[] = " : Destination is newer.\n";
const char kUpToDate[] = " : Up to Date.\n";

const NewerRow kNewerRows[] = {
    {"equal times", 0, 0, 0, 0, 0, 0, 1000, 1000, true, kUpToDate, false},
    {"source a second newer", 0, 0, 0, 0, 0, 0, 1001, 1000, false, kOlder, false},
    {"destination a second newer", 0, 0, 0, 0, 0, 0, 999, 1000, true, kNewer, false},
    {"-n2, two seconds", 0, 2, 0, 0, 0, 0, 1002, 1000, true, kUpToDate, false},
    {"-n2, three seconds", 0, 2, 0, 0, 0, 0, 1003, 1000, false, kOlder, false},
    {"-n2, destination two newer", 0, 2, 0, 0, 0, 0, 998, 1000, true, kUpToDate, false},
    {"-n2, destination three newer", 0, 2, 0, 0, 0, 0, 997, 1000, true, kNewer, false},
    {"times far apart copy", 0, 0, 0, 0, 0, 0, kMost, kLeast, false, kOlder, false},
    {"times far apart skip", 0, 0, 0, 0, 0, 0, kLeast, kMost, true, kNewer, false},
    {"versions ignored without -w", 0, 0, 1, 0, 0x20000, 0, 1001, 1000, false, kOlder, false},
    {"2.0 over 1.9", 1, 0, 0x10009, 0, 0x20000, 0, 5000, 1000, true, kNewerVersion, true},
    {"1.0.0.5 under 1.0.0.7", 1, 0, 0x10000, 7, 0x10000, 5, 1000, 5000, false, kOlderVersion,
     false},
    {"1.9 under 2.0", 1, 0, 0x20000, 9, 0x10009, 9, 1000, 5000, false, kOlderVersion, false},
    {"1.0.0.7 over 1.0.0.5", 1, 0, 0x10000, 5, 0x10000, 7, 5000, 1000, true, kNewerVersion, false},
    {"high word unsigned, skip", 1, 0, 2147483647u, 0, 2147483648u, 0, 9, 1, true, kNewerVersion,
     true},
    {"high word unsigned, copy", 1, 0, 2147483648u, 0, 2147483647u, 0, 1, 9, false, kOlderVersion,
     false},
    {"low word unsigned, skip", 1, 0, 3, 2147483647u, 3, 2147483648u, 9, 1, true, kNewerVersion,
     false},
    {"low word unsigned, copy", 1, 0, 3, 2147483648u, 3, 2147483647u, 1, 9, false, kOlderVersion,
     false},
    {"no versions: times decide", 1, 0, 0, 0, 0, 0, 999, 1000, true, kNewer, false},
    {"equal versions: times decide", 1, 0, 4, 4, 4, 4, 1001, 1000, false, kOlder, false},
    {"only the source versioned", 1, 0, 0x10000, 0, 0, 0, 1000, 5000, false, kOlderVersion, false},
};

TEST_F(Freshness, NewerRuleDecidesAndExplains) {
  for (const NewerRow &row : kNewerRows) {
    test_settings().compare_versions = row.compare_versions;
    test_settings().time_tolerance_seconds = row.tolerance;
    FileStamp source, destination;
    source.version_ms = row.source_ms;
    source.version_ls = row.source_ls;
    destination.version_ms = row.destination_ms;
    destination.version_ls = row.destination_ls;
    source.modification_time = row.source_time;
    destination.modification_time = row.destination_time;
    FreshnessVerdict verdict = compare_freshness(source, destination);
    EXPECT_EQ(verdict.skip, row.skip) << row.what;
    EXPECT_STREQ(verdict.log_text, row.text) << row.what;
    EXPECT_EQ(verdict.always_logged, row.always_logged) << row.what;
  }
  EXPECT_EQ(fake::console_output() + fake::console_error(), "");
}

struct SameRow {
  const char *what;
  int64_t source_size, destination_size;
  int64_t source_time, destination_time;
  uint32_t destination_ls;
  int32_t tolerance;
  bool same;
};

TEST_F(Freshness, SamenessNeedsVersionSizeAndTwoSeconds) {
  const SameRow rows[] = {
      {"identical", 10, 10, 1000, 1000, 0, 0, true},
      {"two seconds apart", 10, 10, 1002, 1000, 0, 0, true},
      {"two seconds the other way", 10, 10, 1000, 1002, 0, 0, true},
      {"three seconds apart", 10, 10, 1003, 1000, 0, 0, false},
      {"three seconds the other way", 10, 10, 1000, 1003, 0, 0, false},
      {"-c5 keeps the two-second bound", 10, 10, 1003, 1000, 0, 5, false},
      {"sizes differ", 10, 11, 1000, 1000, 0, 0, false},
      {"sizes differ beyond 32 bits", 10, 10 + (int64_t(1) << 32), 1000, 1000, 0, 0, false},
      {"unopened destination stream", 0, -1, 1000, 1000, 0, 0, false},
      {"versions differ", 10, 10, 1000, 1000, 1, 0, false},
      {"times at the ends of the range", 10, 10, kMost, kLeast, 0, 0, false},
  };
  for (const SameRow &row : rows) {
    FileStamp source, destination;
    source.size = row.source_size;
    destination.size = row.destination_size;
    source.modification_time = row.source_time;
    destination.modification_time = row.destination_time;
    destination.version_ls = row.destination_ls;
    test_settings().time_tolerance_seconds = row.tolerance;
    EXPECT_EQ(files_are_same(source, destination), row.same) << row.what;
  }
}

TEST_F(Freshness, VersionIsReadOnlyUnderVersionComparison) {
  fake::add_file(NT("app.exe"), "image");
  fake::set_file_version(NT("app.exe"), 0x20001, 0x30004);
  fake::add_file(NT("plain"), "text");
  FileStamp stamp;
  stamp.version_ms = 7;
  stamp.version_ls = 7;
  get_file_version(NT("app.exe"), &stamp);
  EXPECT_EQ(stamp.version_ms, 0u);
  EXPECT_EQ(stamp.version_ls, 0u);
  test_settings().compare_versions = 1;
  get_file_version(NT("app.exe"), &stamp);
  EXPECT_EQ(stamp.version_ms, 0x20001u);
  EXPECT_EQ(stamp.version_ls, 0x30004u);
  get_file_version(NT("plain"), &stamp);
  EXPECT_EQ(stamp.version_ms, 0u);
  EXPECT_EQ(stamp.version_ls, 0u);
}

// Whole runs: the flags, the per-file job and the rules together.
class FreshnessRun : public testing_support::FreshRun {
protected:
  void SetUp() override {
    FreshRun::SetUp();
    fake::add_file(NT("new/app.exe"), "new image", 1000);
    fake::add_file(NT("old/app.exe"), "old image", 5000);
  }
  std::string log_line(const std::string &text) {
    return shown(NT("new/app.exe")) + " ===> " + shown(NT("old/app.exe")) + text;
  }
  bool copied() { return fake::content(NT("old/app.exe")) == "new image"; }
};

TEST_F(FreshnessRun, NewerVersionIsLoggedEvenUnderQuietLogging) {
  fake::set_file_version(NT("new/app.exe"), 0x10009, 0);
  fake::set_file_version(NT("old/app.exe"), 0x20000, 0);
  EXPECT_EQ(
      run_program({NT("zorov"), NT("-w"), NT("-l-"), NT("-llog"), NT("new/app.exe"), NT("old/")}),
      0);
  EXPECT_FALSE(copied());
  std::string log = fake::content(NT("log"));
  EXPECT_NE(log.find(log_line(" : Destination has newer version.\n")), std::string::npos) << log;
}

TEST_F(FreshnessRun, OlderVersionIsCopiedAndLoggedOnlyWithoutQuietLogging) {
  for (bool quiet_logging : {false, true}) {
    fake::add_file(NT("old/app.exe"), "old image", 5000);
    fake::add_file(NT("log"), "");
    fake::set_file_version(NT("new/app.exe"), 0x10000, 7);
    fake::set_file_version(NT("old/app.exe"), 0x10000, 5);
    std::vector<nstring> arguments = {NT("zorov"), NT("-q"), NT("-w"), NT("-llog")};
    if (quiet_logging)
      arguments.push_back(NT("-l-"));
    arguments.push_back(NT("new/app.exe"));
    arguments.push_back(NT("old/"));
    EXPECT_EQ(run_program(arguments), level_copied);
    EXPECT_TRUE(copied());
    bool logged = fake::content(NT("log")).find(log_line(" : Destination has older version.\n")) !=
                  std::string::npos;
    EXPECT_EQ(logged, !quiet_logging);
  }
}

TEST_F(FreshnessRun, TimeLinesAreLoggedOnlyWithoutQuietLogging) {
  struct Row {
    int64_t source_time;
    const char *text;
  } rows[] = {{5000, " : Up to Date.\n"},
              {4000, " : Destination is newer.\n"},
              {6000, " : Destination is older.\n"}};
  for (const Row &row : rows) {
    for (bool quiet_logging : {false, true}) {
      fake::add_file(NT("new/app.exe"), "new image", row.source_time);
      fake::add_file(NT("old/app.exe"), "old image", 5000);
      fake::add_file(NT("log"), "");
      std::vector<nstring> arguments = {NT("zorov"), NT("-q"), NT("-n"), NT("-llog")};
      if (quiet_logging)
        arguments.push_back(NT("-l-"));
      arguments.push_back(NT("new/app.exe"));
      arguments.push_back(NT("old/"));
      EXPECT_EQ(run_program(arguments), level_copied);
      bool logged = fake::content(NT("log")).find(log_line(row.text)) != std::string::npos;
      EXPECT_EQ(logged, !quiet_logging) << row.text;
    }
  }
}

TEST_F(FreshnessRun, VersionsAreIgnoredWithoutW) {
  // A newer destination version would keep the file under -w; under -n only
  // the times count, and the source is newer.
  fake::add_file(NT("new/app.exe"), "new image", 6000);
  fake::set_file_version(NT("old/app.exe"), 0x30000, 0);
  EXPECT_EQ(run_program({NT("zorov"), NT("-q"), NT("-n"), NT("new/app.exe"), NT("old/")}),
            level_copied);
  EXPECT_TRUE(copied());
}

TEST_F(FreshnessRun, ChangedRuleWithANumberKeepsTheTwoSecondBound) {
  struct Row {
    const nchar *flag;
    int64_t source_time;
    bool copied;
  };
  const Row rows[] = {
      {NT("-c"), 5002, false},
      {NT("-c"), 5003, true},
      {NT("-c5"), 5003, true},
      {NT("-c5"), 4998, false},
  };
  for (const Row &row : rows) {
    fake::add_file(NT("new/app.exe"), "new image", row.source_time);
    fake::add_file(NT("old/app.exe"), "old image", 5000);
    fake::add_file(NT("log"), "");
    EXPECT_EQ(
        run_program({NT("zorov"), NT("-q"), row.flag, NT("-llog"), NT("new/app.exe"), NT("old/")}),
        0);
    // The contents differ but have the same length: only the times decide.
    EXPECT_EQ(copied(), row.copied) << row.source_time;
    bool same_logged =
        fake::content(NT("log")).find(log_line(" : Files are the same.\n")) != std::string::npos;
    EXPECT_EQ(same_logged, !row.copied) << row.source_time;
  }
}

} // namespace
} // namespace zorov

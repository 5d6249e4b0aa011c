// Tests of what only the real platform layer does (sharing requests, the
// platform's line ends, interruption, character sets, the services of the
// system), and the fixture that runs the contract suite of every layer
// against it: a fresh directory under the system's temporary directory,
// made the current directory.
#include "platform/platform.h"
#include "support/platform_contract.h"

#if defined(_WIN32)
#include "platform/console_hook.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zorov {
namespace {

using namespace contract;
namespace fs = std::filesystem;

const std::string line_end = on_windows ? "\r\n" : "\n";

} // namespace

// ------------------------------------------- the contract suite's fixture

namespace contract {
namespace {

fs::path started;
nstring fresh;

} // namespace

nstring enter_fresh_directory() {
  started = fs::current_path();
  nstring base = fs::temp_directory_path().native();
  fresh.clear();
  for (int attempt = 0; attempt < 100 && fresh.empty(); ++attempt) {
    std::string leaf = "zorov-platform-" + std::to_string(wall_seconds()) + "-" +
                       std::to_string(milliseconds_now()) + "-" + std::to_string(attempt);
    nstring candidate = joined(base, nstring(leaf.begin(), leaf.end()));
    if (make_directory(candidate.c_str()) == 0)
      fresh = candidate;
  }
  EXPECT_FALSE(fresh.empty()) << "no temporary directory";
  fs::current_path(fresh);
  // The system's own spelling of it, as full-path names are made from it.
  return fs::current_path().native();
}

void leave_fresh_directory() {
  fs::current_path(started);
  if (fresh.empty())
    return;
  // Read-only files would refuse deletion on Windows.
  std::error_code error;
  for (const fs::directory_entry &entry : fs::recursive_directory_iterator(fresh, error))
    make_writable(entry.path().c_str());
  fs::remove_all(fresh, error);
}

void make_read_only(const nstring &name) {
  fs::permissions(fs::path(name),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

bool make_symbolic_link(const nstring &link, const nstring &target, std::string *why) {
  std::error_code error;
  fs::create_symlink(fs::path(target), fs::path(link), error);
  *why = error ? "no symbolic links here: " + error.message() : "";
  return !error;
}

bool make_hard_link(const nstring &link, const nstring &target, std::string *why) {
  std::error_code error;
  fs::create_hard_link(fs::path(target), fs::path(link), error);
  *why = error ? "no hard links here: " + error.message() : "";
  return !error;
}

#if defined(_WIN32)
bool make_null_device(const nstring &, std::string *why) {
  *why = "Windows has no device nodes in directories";
  return false;
}

bool make_pipe(const nstring &, std::string *why) {
  *why = "Windows has no named pipes in directories";
  return false;
}
#else
bool make_null_device(const nstring &name, std::string *why) {
  if (mknod(name.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 && chmod(name.c_str(), 0666) == 0)
    return true;
  *why = "no device node made here: " + std::string(std::strerror(errno));
  return false;
}

bool make_pipe(const nstring &name, std::string *why) {
  if (mkfifo(name.c_str(), 0644) == 0)
    return true;
  *why = "no named pipe made here: " + std::string(std::strerror(errno));
  return false;
}
#endif

} // namespace contract

namespace {

using namespace contract;

// Tests of the real layer alone, in the contract suite's fresh directory.
class PlatformTest : public ::testing::Test {
protected:
  void SetUp() override { directory_ = contract::enter_fresh_directory(); }
  void TearDown() override { contract::leave_fresh_directory(); }

  nstring name(const nstring &leaf) const { return joined(directory_, leaf); }

  nstring directory_;
};

// ------------------------------------------------- file descriptors

// ------------------------------------------- names within a directory

// Calls on the files of one directory answer as the full names do, also
// after that directory's name came to stand for another directory: one the
// program made itself, or, by the time it starts reading a directory, one
// made behind its back.
TEST_F(PlatformTest, ADirectoryRenamedAndMadeAnewIsFoundUnderItsName) {
  nstring directory = name(NT("level")), moved = name(NT("moved"));
  nstring file = joined(directory, NT("file")), later = joined(directory, NT("later"));
  ASSERT_EQ(make_directory(directory.c_str()), 0);
  ASSERT_TRUE(write_all(file, "old"));
  FileStatus status;
  ASSERT_EQ(file_status(file.c_str(), &status), 0);
  for (bool by_the_program : {true, false}) {
    SCOPED_TRACE(by_the_program ? "by the program" : "behind its back");
    std::error_code error;
    if (by_the_program) {
      ASSERT_EQ(rename_file(directory.c_str(), moved.c_str()), 0);
      ASSERT_EQ(make_directory(directory.c_str()), 0);
    } else {
      fs::rename(directory, moved, error);
      ASSERT_FALSE(error) << error.message();
      ASSERT_TRUE(fs::create_directory(directory, error)) << error.message();
      ASSERT_TRUE(write_all(joined(directory, NT("listed")), "listed"));
      DirectoryEntry entry;
      DirectorySearch *search = search_first(joined(directory, NT("*")).c_str(), &entry);
      ASSERT_NE(search, nullptr);
      search_close(search);
    }
    errno = 0;
    EXPECT_EQ(file_status(file.c_str(), &status), -1);
    EXPECT_EQ(errno, ENOENT);
    ASSERT_TRUE(write_all(later, "new"));
    EXPECT_EQ(set_file_times(later.c_str(), FileTime(), FileTime()), 0);
    EXPECT_EQ(read_all(later), "new");
    EXPECT_EQ(read_all(joined(moved, NT("later"))), "<unreadable>");
    ASSERT_EQ(file_status(later.c_str(), &status), 0);
    EXPECT_EQ(status.modification_time.seconds, 0);
    fs::remove_all(moved, error);
    fs::remove(later, error);
    ASSERT_TRUE(write_all(file, "old"));
  }
}

// A missing directory part, or a file in its place, gives the full name's
// answer, and a directory made under that name later is used.
TEST_F(PlatformTest, ADirectoryPartThatIsNoDirectoryAnswersAsTheFullName) {
  nstring missing = name(NT("missing")), plain = name(NT("plain"));
  ASSERT_TRUE(write_all(plain, "plain"));
  FileStatus status;
  errno = 0;
  EXPECT_EQ(file_status(joined(missing, NT("file")).c_str(), &status), -1);
  EXPECT_EQ(errno, ENOENT);
  errno = 0;
  EXPECT_EQ(open_file(joined(plain, NT("file")).c_str(), open_read, share_deny_none, 0), -1);
  EXPECT_EQ(errno, on_windows ? ENOENT : ENOTDIR);
  ASSERT_EQ(make_directory(missing.c_str()), 0);
  ASSERT_TRUE(write_all(joined(missing, NT("file")), "made"));
  EXPECT_EQ(file_status(joined(missing, NT("file")).c_str(), &status), 0);
}

// Links are followed where the full name's walk follows them, in the
// directory part, and the final component keeps each call's own rule.
TEST_F(PlatformTest, LinksWithinADirectoryAreFollowedAsByTheFullName) {
  nstring target = name(NT("target")), link = name(NT("link"));
  ASSERT_EQ(make_directory(target.c_str()), 0);
  ASSERT_TRUE(write_all(joined(target, NT("file")), "through"));
  std::string why;
  if (!contract::make_symbolic_link(link, target, &why) ||
      !contract::make_symbolic_link(joined(target, NT("to-file")), joined(target, NT("file")),
                                    &why) ||
      !contract::make_symbolic_link(joined(target, NT("dangling")), name(NT("nowhere")), &why))
    GTEST_SKIP() << why;
  FileStatus status;
  ASSERT_EQ(file_status(joined(link, NT("to-file")).c_str(), &status), 0);
  EXPECT_EQ(status.size, 7);
  EXPECT_EQ(read_all(joined(link, NT("file"))), "through");
  FileIdentity made;
  errno = 0;
  EXPECT_EQ(create_new_file(joined(link, NT("dangling")).c_str(), 0600, &made), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(read_all(name(NT("nowhere"))), "<unreadable>");
  // Once the link is removed, or replaced by a file the program made, no
  // name leads through it any more.
  nstring made_file = name(NT("made"));
  for (bool removed : {true, false}) {
    SCOPED_TRACE(removed ? "removed" : "replaced");
    ASSERT_EQ(file_status(joined(link, NT("file")).c_str(), &status), 0);
    if (removed) {
      ASSERT_EQ(remove_file(link.c_str()), 0);
    } else {
      int descriptor = create_new_file(made_file.c_str(), 0600, &made);
      ASSERT_GE(descriptor, 0);
      close_file(descriptor);
      ASSERT_EQ(rename_made_file(made_file.c_str(), link.c_str(), made), 0);
    }
    EXPECT_EQ(file_status(joined(link, NT("file")).c_str(), &status), -1);
    remove_file(link.c_str());
    ASSERT_TRUE(contract::make_symbolic_link(link, target, &why)) << why;
  }
}

TEST_F(PlatformTest, SharingRequestsBindOnWindowsOnly) {
  nstring file = name(NT("shared.txt"));
  ASSERT_TRUE(write_all(file, "shared"));
  struct Row {
    ShareMode first;
    OpenMode second_mode;
    bool refused_on_windows;
  };
  const Row rows[] = {
      {share_deny_write, open_read, false},
      {share_deny_write, open_append, true},
      {share_deny_read_write, open_read, true},
      {share_deny_none, open_append, false},
  };
  for (const Row &row : rows) {
    int first = open_file(file.c_str(), open_read, row.first, 0);
    ASSERT_GE(first, 0);
    errno = 0;
    int second = open_file(file.c_str(), row.second_mode, share_deny_none, 0644);
    bool refused = on_windows && row.refused_on_windows;
    EXPECT_EQ(second < 0, refused) << row.first << " " << row.second_mode;
    if (refused) {
      EXPECT_EQ(errno, EACCES);
    }
    if (second >= 0)
      close_file(second);
    close_file(first);
  }
  EXPECT_EQ(read_all(file), "shared");
}

#if !defined(_WIN32)
struct InterruptRow {
  int signal_number;
  bool temporary;
  bool watched;        // still watched when the signal comes
  bool ignored;        // the signal was ignored when the program started
  int exit_code;       // of the child
  bool left_as_was;    // the output untouched by the interruption
  bool closed = false; // the output was closed and its number reused first
  int64_t mark = 0;    // the time a plain output is to get
};

// A child installs the handlers, writes part of an output and is then sent
// the signal: its exit code.
int interrupted_child(const nstring &output, const InterruptRow &row) {
  pid_t child = fork();
  if (child == 0) {
    if (row.ignored)
      signal(row.signal_number, SIG_IGN);
    install_interrupt_handlers();
    int descriptor = open_file(output.c_str(), open_write_truncate, share_deny_none, 0644);
    write_file(descriptor, "part", 4);
    watch_output(output.c_str(), descriptor, row.temporary, FileTime{row.mark, 0});
    if (!row.watched)
      end_output_watch();
    if (row.closed) {
      close_file(descriptor);
      open_file((output + NT("-other")).c_str(), open_write_truncate, share_deny_none, 0644);
    }
    raise(row.signal_number);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PlatformTest, InterruptionEndsAtOnceAndPutsTheOutputRight) {
  const InterruptRow rows[] = {
      {SIGINT, false, true, false, 130, false},
      {SIGTERM, true, true, false, 143, false},
      {SIGHUP, false, true, false, 129, false},
      {SIGINT, true, false, false, 130, true},
      {SIGHUP, true, true, true, 0, true},
      {SIGTERM, false, true, false, 143, false, true},
      // A source dated before 1970 gets a mark older still.
      {SIGTERM, false, true, false, 143, false, false, -100000003},
  };
  for (const InterruptRow &row : rows) {
    nstring output = name(NT("out-") + std::to_string(row.signal_number));
    fs::remove(output);
    EXPECT_EQ(interrupted_child(output, row), row.exit_code) << row.signal_number;
    FileStatus status;
    bool kept = file_status(output.c_str(), &status) == 0;
    if (row.left_as_was) {
      EXPECT_TRUE(kept);
      EXPECT_GT(status.modification_time.seconds, 0);
    } else if (row.temporary) {
      EXPECT_FALSE(kept) << "the temporary file is removed";
    } else {
      EXPECT_EQ(read_all(output), "part") << "the partial destination stays";
      EXPECT_EQ(status.modification_time.seconds, row.mark) << "and never looks newer";
    }
    if (row.closed) {
      ASSERT_EQ(file_status((output + NT("-other")).c_str(), &status), 0);
      EXPECT_GT(status.modification_time.seconds, 0) << "a file that took the output's number";
    }
  }
}

// The terminal's progress indicator, open when the signal comes, is cleared
// before the process ends.
TEST(PlatformInterruption, TheTerminalIndicatorIsCleared) {
  int leader = posix_openpt(O_RDWR | O_NOCTTY);
  if (leader < 0 || grantpt(leader) != 0 || unlockpt(leader) != 0)
    GTEST_SKIP() << "no pseudo-terminals on this machine";
  std::string follower_name = ptsname(leader);
  pid_t child = fork();
  if (child == 0) {
    int follower = open(follower_name.c_str(), O_RDWR | O_NOCTTY);
    dup2(follower, STDOUT_FILENO);
    install_interrupt_handlers();
    progress_window_open("Copying big");
    raise(SIGINT);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130);
  std::string output;
  char block[4096];
  // The child is gone, so the terminal holds all it will ever get.
  fcntl(leader, F_SETFL, O_NONBLOCK);
  ssize_t count;
  while ((count = read(leader, block, sizeof block)) > 0)
    output.append(block, size_t(count));
  close(leader);
  const std::string cleared = "\033]9;4;0;0\007\033]0;\007";
  EXPECT_NE(output.find("\033]0;Copying big\007"), std::string::npos) << output;
  ASSERT_GE(output.size(), cleared.size());
  EXPECT_EQ(output.substr(output.size() - cleared.size()), cleared);
}

// A run without a terminal of its own (started by a service) that writes
// to a terminal, or reads its version, never takes that terminal as its own.
TEST(PlatformTerminal, ATerminalOpenedIsNeverTakenAsTheRunsOwn) {
  int leader = posix_openpt(O_RDWR | O_NOCTTY);
  if (leader < 0 || grantpt(leader) != 0 || unlockpt(leader) != 0)
    GTEST_SKIP() << "no pseudo-terminals on this machine";
  std::string follower = ptsname(leader);
  for (int way = 0; way < 2; ++way) {
    pid_t child = fork();
    if (child == 0) {
      setsid();
      uint32_t most = 0, least = 0;
      if (way == 0)
        open_file(follower.c_str(), open_write_truncate, share_deny_none, 0644);
      else
        read_file_version(follower.c_str(), &most, &least);
      _exit(open("/dev/tty", O_RDWR) < 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << way;
  }
  close(leader);
}
#endif

void write_text_file(const nstring &file, TextMode mode, const std::string &text) {
  TextStream *stream = open_text(file.c_str(), mode);
  ASSERT_NE(stream, nullptr);
  write_text(stream, text.data(), text.size());
  flush_text(stream);
  close_text(stream);
}

TEST_F(PlatformTest, WrittenTextGetsThePlatformLineEnds) {
  nstring file = name(NT("run.log"));
  write_text_file(file, text_append, "a\nb\n");
  EXPECT_EQ(read_all(file), "a" + line_end + "b" + line_end);
  write_text_file(file, text_append, "c\n");
  EXPECT_EQ(read_all(file), "a" + line_end + "b" + line_end + "c" + line_end);
  write_text_file(file, text_replace, "z");
  EXPECT_EQ(read_all(file), "z");
  TextStream *text = create_text_in_place(name(NT("text")).c_str());
  ASSERT_NE(text, nullptr);
  write_text(text, "a\nb\n", 4);
  close_text(text);
  EXPECT_EQ(read_all(name(NT("text"))), "a" + line_end + "b" + line_end);
}

// ------------------------------------------------- the platform copy

struct Reports {
  std::vector<std::pair<int64_t, int64_t>> calls;
};

void record_report(int64_t total, int64_t transferred, void *context) {
  static_cast<Reports *>(context)->calls.push_back(std::make_pair(total, transferred));
}

// Files whose status gives a size of 0 but that hold text (/proc on Linux)
// are copied to their real end.
TEST_F(PlatformTest, PlatformCopyReadsPastTheSizeTheStatusGives) {
  const nstring source = NT("/proc/self/status");
  FileStatus status;
  if (on_windows || file_status(source.c_str(), &status) != 0 || status.size != 0)
    GTEST_SKIP() << "no file here whose status understates its size";
  nstring destination = name(NT("status.txt"));
  Reports reports;
  ASSERT_EQ(platform_copy_file(source.c_str(), destination.c_str(), false, record_report, &reports),
            0);
  std::string copied = read_all(destination);
  EXPECT_NE(copied.find("Name:"), std::string::npos) << copied;
  ASSERT_FALSE(reports.calls.empty());
  EXPECT_EQ(reports.calls.back().second, int64_t(copied.size()));
}

// A list whose status says it is empty but whose reads give lines (/proc on
// Linux) is read as its reads give it.
TEST_F(PlatformTest, ListReadsWhatAFileHoldsWhoseStatusSaysItIsEmpty) {
  const nstring list = NT("/proc/self/status");
  FileStatus status;
  if (on_windows || file_status(list.c_str(), &status) != 0 || status.size != 0)
    GTEST_SKIP() << "no file here whose status understates its size";
  std::vector<nstring> lines = read_lines(list, kPathCapacity);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].substr(0, 5), NT("Name:"));
}

// Files whose status gives a size greater than they hold and no disk space
// (/sys on Linux) are copied as far as reads reach, never padded to that
// size: by a plain copy, a restart, and into a new file.
TEST_F(PlatformTest, PlatformCopyTakesWhatReadsGiveNotTheSizeTheStatusGives) {
  const nstring source = NT("/sys/class/net/lo/address");
  FileStatus status;
  std::string held = on_windows ? "" : read_all(source);
  if (on_windows || file_status(source.c_str(), &status) != 0 ||
      status.size <= int64_t(held.size()))
    GTEST_SKIP() << "no file here whose status overstates its size";
  for (int way = 0; way < 3; ++way) {
    nstring destination = name(NT("address-") + nstring(1, nchar('0' + way)));
    int code;
    if (way == 2) {
      FileIdentity made;
      bool taken = false;
      code = platform_copy_new_file(source.c_str(), destination.c_str(), nullptr, nullptr, &made,
                                    &taken);
    } else {
      code = platform_copy_file(source.c_str(), destination.c_str(), way == 1, nullptr, nullptr);
    }
    ASSERT_EQ(code, 0) << way;
    EXPECT_EQ(read_all(destination), held) << way;
  }
}

// ------------------------------------------------- errors, time, process

TEST(PlatformServices, SystemMessagesKeepTheirLineEnd) {
  // The Windows message keeps its own line end, as a line feed that text
  // streams write as CR LF.
  std::string message = system_message(2);
  ASSERT_FALSE(message.empty());
  if (on_windows) {
    EXPECT_EQ(message.back(), '\n');
    EXPECT_EQ(message.find('\r'), std::string::npos);
  } else {
    EXPECT_EQ(message, error_text(2));
  }
}

TEST(PlatformServices, ClocksAndLocalTime) {
  EXPECT_GT(wall_seconds(), int64_t(1600000000));
  begin_timer_resolution();
  uint32_t start = milliseconds_now();
  pause_milliseconds(40);
  uint32_t elapsed = milliseconds_now() - start;
  end_timer_resolution();
  EXPECT_GE(elapsed, 30u);
  EXPECT_LT(elapsed, 10000u);

  std::string text = local_time_text();
  ASSERT_EQ(text.size(), 25u) << text;
  EXPECT_EQ(text[24], '\n');
  EXPECT_EQ(text[3], ' ');
  EXPECT_EQ(text[19], ' ');
}

// Sets TMP in the process's environment and gives back the value it had.
nstring set_tmp(const nstring &value) {
#if defined(_WIN32)
  const wchar_t *before = _wgetenv(L"TMP");
  nstring old = before ? before : L"";
  _wputenv_s(L"TMP", value.c_str());
#else
  const char *before = std::getenv("TMP");
  nstring old = before ? before : "";
  if (value.empty())
    unsetenv("TMP");
  else
    setenv("TMP", value.c_str(), 1);
#endif
  return old;
}

TEST(PlatformServices, EnvironmentAndNames) {
  // The help directory comes from the process's environment, where TMP
  // comes first (the whole order is the name rules' to test).
  const nstring chosen = on_windows ? NT("C:\\zorov help") : NT("/zorov help");
  nstring old = set_tmp(chosen);
  EXPECT_EQ(help_directory(), chosen);
  set_tmp(old);
  EXPECT_FALSE(help_directory().empty());
  EXPECT_EQ(narrow_text(NT("plain name-1.txt")), "plain name-1.txt");
  EXPECT_EQ(narrow_text(NT("")), "");
  // Closing or moving a window that was never opened is harmless.
  progress_window_position(50);
  progress_window_close();
  progress_window_close();
}

#if defined(_WIN32)
// ------------------------------------------- character sets on Windows

// Names in every character set: the ANSI code page holds the first two, not
// the Cyrillic ones nor the full-width letters (whose look-alikes "ab" are
// another file's name).
const wchar_t kMixedNames[] = L"caf\u00e9 \u20ac \u0444\u0430\u0439\u043b \uff41\uff42\n";
const char kMixedNamesAnsi[] = "caf\xe9 \x80 ???? ??";

bool ansi_is_western() {
  if (GetACP() == 1252)
    return true;
  ADD_FAILURE() << "these expectations are those of the Windows-1252 ANSI code page";
  return false;
}

TEST_F(PlatformTest, TextFilesHoldTheAnsiCodePage) {
  if (!ansi_is_western())
    return;
  nstring file = name(NT("names.log"));
  write_text_file(file, text_replace, narrow_text(kMixedNames));
  EXPECT_EQ(read_all(file), std::string(kMixedNamesAnsi) + "\r\n");
  // Read back as a response file, a name comes back as it was written.
  EXPECT_EQ(read_lines(file, 260), std::vector<nstring>{L"caf\u00e9 \u20ac ???? ??\n"});
}

TEST_F(PlatformTest, RedirectedOutputHoldsTheAnsiCodePage) {
  if (!ansi_is_western())
    return;
  nstring file = name(NT("output.txt"));
  int redirected = _wopen(file.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, 0600);
  ASSERT_GE(redirected, 0);
  console_flush();
  int saved = _dup(1);
  _dup2(redirected, 1);
  std::string text = narrow_text(kMixedNames);
  console_write(console_output, text.data(), text.size());
  console_flush();
  _dup2(saved, 1);
  _close(saved);
  _close(redirected);
  EXPECT_EQ(read_all(file), std::string(kMixedNamesAnsi) + "\r\n");
}

std::vector<std::wstring> console_texts[2];

void record_console_text(ConsoleStream stream, const wchar_t *text, size_t length) {
  console_texts[stream == console_error ? 1 : 0].push_back(std::wstring(text, length));
}

TEST(PlatformServices, ConsoleShowsNamesInItsWideCharacters) {
  set_wide_console_writer(record_console_text);
  std::string names = narrow_text(L"\u0444\u0430\u0439\u043b \u65e5\u672c \U0001F600.txt\n");
  console_write(console_output, names.data(), names.size());
  console_write(console_error, "\b\b\b 50%", 7);
  set_wide_console_writer(nullptr);
  EXPECT_EQ(console_texts[0],
            std::vector<std::wstring>{L"\u0444\u0430\u0439\u043b \u65e5\u672c \U0001F600.txt\r\n"});
  EXPECT_EQ(console_texts[1], std::vector<std::wstring>{L"\b\b\b 50%"});
}
#endif

} // namespace
} // namespace zorov

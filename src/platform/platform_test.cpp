// Tests of the real platform layer, on the disk, in a fresh directory under
// the system's temporary directory. The same expectations hold on both
// platforms; where the platforms truly differ, the expectation is computed
// from the native path style.
#include "platform/platform.h"

#if defined(_WIN32)
#include "platform/console_hook.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#if !defined(_WIN32)
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace zorov {
namespace {

namespace fs = std::filesystem;

const bool on_windows = native_path_style == path_style_windows;
const nchar separator = on_windows ? NT('\\') : NT('/');
const std::string line_end = on_windows ? "\r\n" : "\n";

nstring current_directory() { return fs::current_path().native(); }

nstring joined(const nstring &directory, const nstring &name) {
  if (!directory.empty() && directory.back() == separator)
    return directory + name;
  return directory + separator + name;
}

bool write_all(const nstring &name, const std::string &bytes) {
  int descriptor = open_file(name.c_str(), open_write_truncate, share_deny_none, 0644);
  if (descriptor < 0)
    return false;
  int32_t written = write_file(descriptor, bytes.data(), static_cast<uint32_t>(bytes.size()));
  close_file(descriptor);
  return written == static_cast<int32_t>(bytes.size());
}

std::string read_all(const nstring &name) {
  int descriptor = open_file(name.c_str(), open_read, share_deny_none, 0);
  if (descriptor < 0)
    return "<unreadable>";
  std::string bytes;
  char block[4096];
  int32_t count;
  while ((count = read_file(descriptor, block, sizeof block)) > 0)
    bytes.append(block, static_cast<size_t>(count));
  close_file(descriptor);
  return bytes;
}

std::string pattern_bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7) % 251);
  return bytes;
}

void make_read_only(const nstring &name) {
  fs::permissions(fs::path(name),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

class PlatformTest : public ::testing::Test {
protected:
  void SetUp() override {
    nstring base = fs::temp_directory_path().native();
    for (int attempt = 0; attempt < 100 && directory_.empty(); ++attempt) {
      std::string leaf = "zorov-platform-" + std::to_string(wall_seconds()) + "-" +
                         std::to_string(milliseconds_now()) + "-" + std::to_string(attempt);
      nstring candidate = joined(base, nstring(leaf.begin(), leaf.end()));
      if (make_directory(candidate.c_str()) == 0)
        directory_ = candidate;
    }
    ASSERT_FALSE(directory_.empty()) << "no temporary directory";
  }

  void TearDown() override {
    if (directory_.empty())
      return;
    // Read-only files would refuse deletion on Windows.
    std::error_code error;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(directory_, error))
      make_writable(entry.path().c_str());
    fs::remove_all(directory_, error);
  }

  nstring name(const nstring &leaf) const { return joined(directory_, leaf); }

  nstring directory_;
};

// ------------------------------------------------- file descriptors

TEST_F(PlatformTest, WrittenBytesReadBackAtAnyPosition) {
  const std::string bytes = pattern_bytes(100000);
  nstring file = name(NT("data.bin"));
  int output = open_file(file.c_str(), open_write_truncate, share_deny_read_write, 0644);
  ASSERT_GE(output, 0);
  EXPECT_EQ(write_file(output, bytes.data(), 60000), 60000);
  EXPECT_EQ(write_file(output, bytes.data() + 60000, 40000), 40000);
  EXPECT_EQ(file_length(output), 100000);
  EXPECT_EQ(close_file(output), 0);

  int input = open_file(file.c_str(), open_read, share_deny_write, 0);
  ASSERT_GE(input, 0);
  struct Row {
    int64_t offset;
    uint32_t count;
    int32_t expected;
  };
  const Row rows[] = {
      {4000, 1000, 1000}, {0, 100000, 100000}, {99990, 100, 10}, {100000, 100, 0}, {200000, 100, 0},
  };
  std::vector<char> buffer(100000);
  for (const Row &row : rows) {
    EXPECT_EQ(seek_file(input, row.offset), row.offset);
    int32_t count = read_file(input, buffer.data(), row.count);
    ASSERT_EQ(count, row.expected) << "at " << row.offset;
    if (count > 0) {
      EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(count)),
                bytes.substr(static_cast<size_t>(row.offset), static_cast<size_t>(count)));
    }
  }
  EXPECT_EQ(seek_file(input, -1), -1);
  EXPECT_EQ(file_length(input), 100000);
  EXPECT_EQ(close_file(input), 0);

  EXPECT_EQ(stream_length(file.c_str()), 100000);
  FileStatus status;
  ASSERT_EQ(file_status(file.c_str(), &status), 0);
  EXPECT_EQ(status.size, 100000);
  EXPECT_TRUE(status.is_regular);
  EXPECT_FALSE(status.is_directory);
  EXPECT_FALSE(status.read_only);
}

TEST_F(PlatformTest, ShortFileGivesWhatItHasThenEndOfFile) {
  nstring file = name(NT("short.txt"));
  ASSERT_TRUE(write_all(file, "abc"));
  int input = open_file(file.c_str(), open_read, share_deny_write, 0);
  ASSERT_GE(input, 0);
  char buffer[16];
  EXPECT_EQ(read_file(input, buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_EQ(read_file(input, buffer, sizeof buffer), 0);
  close_file(input);
}

TEST_F(PlatformTest, OutputModesTruncateOrAppend) {
  nstring file = name(NT("modes.txt"));
  ASSERT_TRUE(write_all(file, "abc"));

  int append = open_file(file.c_str(), open_append, share_deny_read_write, 0644);
  ASSERT_GE(append, 0);
  EXPECT_EQ(seek_file(append, 0), 0);
  EXPECT_EQ(write_file(append, "d", 1), 1); // lands at the end all the same
  close_file(append);
  EXPECT_EQ(read_all(file), "abcd");

  int truncate = open_file(file.c_str(), open_write_truncate, share_deny_read_write, 0644);
  ASSERT_GE(truncate, 0);
  EXPECT_EQ(file_length(truncate), 0);
  EXPECT_EQ(write_file(truncate, "xy", 0), 0);
  close_file(truncate);
  EXPECT_EQ(read_all(file), "");

  nstring created = name(NT("created.txt"));
  append = open_file(created.c_str(), open_append, share_deny_write, 0644);
  ASSERT_GE(append, 0);
  EXPECT_EQ(write_file(append, "new", 3), 3);
  close_file(append);
  EXPECT_EQ(read_all(created), "new");
}

TEST_F(PlatformTest, OpenFailuresGiveTheRuntimeReason) {
  struct Row {
    nstring name;
    OpenMode mode;
    int error_number;
  };
  const Row rows[] = {
      {name(NT("missing.txt")), open_read, ENOENT},
      {name(NT("no-dir/new.txt")), open_write_truncate, ENOENT},
      {name(NT("no-dir/new.txt")), open_append, ENOENT},
  };
  for (const Row &row : rows) {
    errno = 0;
    EXPECT_EQ(open_file(row.name.c_str(), row.mode, share_deny_none, 0644), -1);
    EXPECT_EQ(errno, row.error_number);
  }
  errno = 0;
  EXPECT_EQ(stream_length(name(NT("missing.txt")).c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
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

// ------------------------------------------------- read-only files

TEST_F(PlatformTest, ReadOnlyFileRefusesWritersUntilMadeWritable) {
  nstring file = name(NT("locked.txt"));
  ASSERT_TRUE(write_all(file, "keep"));
  make_read_only(file);

  FileStatus status;
  ASSERT_EQ(file_status(file.c_str(), &status), 0);
  EXPECT_TRUE(status.read_only);
  for (OpenMode mode : {open_write_truncate, open_append}) {
    errno = 0;
    int descriptor = open_file(file.c_str(), mode, share_deny_read_write, 0644);
    EXPECT_EQ(descriptor, -1) << mode;
    EXPECT_EQ(errno, EACCES) << mode;
    if (descriptor >= 0)
      close_file(descriptor);
  }
  EXPECT_EQ(read_all(file), "keep");

  DirectoryEntry entry;
  DirectorySearch *search = search_first(file.c_str(), &entry);
  ASSERT_NE(search, nullptr);
  EXPECT_NE(entry.attributes & attribute_read_only, 0u);
  search_close(search);

  ASSERT_EQ(make_writable(file.c_str()), 0);
  ASSERT_EQ(file_status(file.c_str(), &status), 0);
  EXPECT_FALSE(status.read_only);
  EXPECT_TRUE(write_all(file, "changed"));
  EXPECT_EQ(read_all(file), "changed");
}

// A copy of a read-only source is made with the source's permissions; the
// new file is still written, and only later writers are refused.
TEST_F(PlatformTest, NewFileIsWrittenWhateverPermissionsItGets) {
  nstring file = name(NT("fresh.txt"));
  int descriptor = open_file(file.c_str(), open_write_truncate, share_deny_read_write, 0444);
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(write_file(descriptor, "data", 4), 4);
  close_file(descriptor);
  EXPECT_EQ(read_all(file), "data");
  if (native_path_style == path_style_posix) {
    errno = 0;
    EXPECT_EQ(open_file(file.c_str(), open_write_truncate, share_deny_read_write, 0644), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(read_all(file), "data");
    make_writable(file.c_str());
  }
}

TEST_F(PlatformTest, CopiedAttributesCarryReadOnly) {
  nstring source = name(NT("source.txt"));
  nstring written = name(NT("written.txt"));
  ASSERT_TRUE(write_all(source, "s"));
  ASSERT_TRUE(write_all(written, "w"));
  make_read_only(source);
  ASSERT_EQ(copy_file_attributes(source.c_str(), written.c_str()), 0);
  FileStatus status;
  ASSERT_EQ(file_status(written.c_str(), &status), 0);
  EXPECT_TRUE(status.read_only);

  errno = 0;
  EXPECT_EQ(copy_file_attributes(name(NT("missing")).c_str(), written.c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
}

// ------------------------------------------------------ directory search

std::map<nstring, uint32_t> search_all(const nstring &pattern) {
  std::map<nstring, uint32_t> found;
  DirectoryEntry entry;
  DirectorySearch *search = search_first(pattern.c_str(), &entry);
  if (search == nullptr)
    return found;
  do
    found[entry.name] = entry.attributes;
  while (search_next(search, &entry) == 1);
  search_close(search);
  return found;
}

TEST_F(PlatformTest, SearchListsMatchesWithTheirAttributes) {
  const nchar *files[] = {NT("a.txt"), NT("b.txt"), NT("ab.txt"),
                          NT("c.dat"), NT("noext"), NT(".h.txt")};
  for (const nchar *file : files)
    ASSERT_TRUE(write_all(name(file), "x"));
  ASSERT_EQ(make_directory(name(NT("d.txt")).c_str()), 0);

  typedef std::set<nstring> Names;
  struct Row {
    const nchar *pattern;
    Names expected;
  };
  const Row rows[] = {
      {NT("*.txt"), {NT("a.txt"), NT("ab.txt"), NT("b.txt"), NT("d.txt"), NT(".h.txt")}},
      {NT("?.txt"), {NT("a.txt"), NT("b.txt"), NT("d.txt")}},
      {NT("*.*"),
       {NT("."), NT(".."), NT("a.txt"), NT("ab.txt"), NT("b.txt"), NT("c.dat"), NT("d.txt"),
        NT(".h.txt"), NT("noext")}},
      {NT("*"),
       {NT("."), NT(".."), NT("a.txt"), NT("ab.txt"), NT("b.txt"), NT("c.dat"), NT("d.txt"),
        NT(".h.txt"), NT("noext")}},
      {NT("c.dat"), {NT("c.dat")}},
      {NT("*.xyz"), {}},
      {NT("no-dir/*"), {}},
  };
  for (const Row &row : rows) {
    std::map<nstring, uint32_t> found = search_all(name(row.pattern));
    Names names;
    for (const auto &item : found)
      names.insert(item.first);
    EXPECT_EQ(names, row.expected) << narrow_text(row.pattern);
  }

  std::map<nstring, uint32_t> found = search_all(name(NT("*")));
  EXPECT_NE(found[NT("d.txt")] & attribute_directory, 0u);
  EXPECT_EQ(found[NT("a.txt")] & (attribute_directory | attribute_hidden), 0u);
  // A dot-name is what hides a file on POSIX; Windows keeps a separate bit
  // for it, which a dot-name does not set there (except under emulation).
  if (!on_windows) {
    EXPECT_NE(found[NT(".h.txt")] & attribute_hidden, 0u);
  }

  // Windows names match without regard to case, POSIX names byte for byte.
  Names upper;
  for (const auto &item : search_all(name(NT("A.TXT"))))
    upper.insert(item.first);
  EXPECT_EQ(upper, on_windows ? Names{NT("a.txt")} : Names{});
}

// ------------------------------------------------------- full-path names

TEST_F(PlatformTest, FullPathsOfRelativeAndDottedNames) {
  const nstring here = current_directory();
  const nstring sub_c = joined(joined(here, NT("a")), NT("c.txt"));
  struct Row {
    nstring name;
    nstring expected;
  };
  const Row rows[] = {
      {NT(""), here},
      {NT("x.txt"), joined(here, NT("x.txt"))},
      {NT("a/./b/../c.txt"), sub_c},
      {NT("a/b/../../a/c.txt"), sub_c},
      {NT("sub/"), joined(here, NT("sub")) + separator},
      {directory_ + NT("/deep/../f.txt"), name(NT("f.txt"))},
      {directory_ + NT("/./g.txt"), name(NT("g.txt"))},
  };
  for (const Row &row : rows) {
    nstring full;
    ASSERT_EQ(resolve_full_path(row.name.c_str(), &full), 0) << narrow_text(row.name.c_str());
    EXPECT_EQ(full, row.expected) << narrow_text(row.name.c_str());
  }
}

TEST_F(PlatformTest, FullPathsBeyondTheLimitAreRefused) {
  const nstring here = joined(current_directory(), NT(""));
  ASSERT_LT(here.size(), static_cast<size_t>(kPathMax - 10));
  size_t fitting = static_cast<size_t>(kPathMax) - here.size();
  nstring full;
  nstring longest(fitting, NT('n'));
  ASSERT_EQ(resolve_full_path(longest.c_str(), &full), 0);
  EXPECT_EQ(full.size(), static_cast<size_t>(kPathMax));
  nstring too_long(fitting + 1, NT('n'));
  EXPECT_EQ(resolve_full_path(too_long.c_str(), &full), -1);
  // Beyond what the system's own buffers hold, too.
  nstring far_too_long(40000, NT('n'));
  EXPECT_EQ(resolve_full_path(far_too_long.c_str(), &full), -1);
}

// ------------------------------------------------------ file identity

TEST_F(PlatformTest, IdentityFollowsTheFileNotItsSpelling) {
  nstring file = name(NT("same.txt"));
  nstring other = name(NT("other.txt"));
  ASSERT_TRUE(write_all(file, "content"));
  ASSERT_TRUE(write_all(other, "content"));
  ASSERT_EQ(make_directory(name(NT("sub")).c_str()), 0);
  nstring detour =
      directory_ + separator + NT("sub") + separator + NT("..") + separator + NT("same.txt");
  struct Row {
    nstring first, second;
    int expected;
  };
  const Row rows[] = {
      {file, file, 1},
      {file, detour, 1},
      {directory_, directory_ + separator + NT("."), 1},
      {file, other, 0},
      {file, name(NT("missing.txt")), 0},
      {name(NT("missing.txt")), name(NT("missing.txt")), 0},
  };
  for (const Row &row : rows)
    EXPECT_EQ(same_file_identity(row.first.c_str(), row.second.c_str()), row.expected)
        << narrow_text(row.first.c_str()) << " " << narrow_text(row.second.c_str());
  if (on_windows) {
    // A bare drive is its current directory, not its root.
    nstring drive = current_directory().substr(0, 2);
    EXPECT_EQ(same_file_identity(drive.c_str(), NT(".")), 1);
    FileStatus status;
    EXPECT_EQ(file_status(drive.c_str(), &status), 0);
    EXPECT_TRUE(status.is_directory);
  }

  // The status carries the same identity, so that callers can keep it.
  FileStatus one, two, three;
  ASSERT_EQ(file_status(file.c_str(), &one), 0);
  ASSERT_EQ(file_status(detour.c_str(), &two), 0);
  ASSERT_EQ(file_status(other.c_str(), &three), 0);
  EXPECT_EQ(one.device, two.device);
  EXPECT_EQ(one.file_index, two.file_index);
  EXPECT_FALSE(one.device == three.device && one.file_index == three.file_index);
}

// ------------------------------------------------------- text streams

std::vector<nstring> read_lines(const nstring &file, int capacity) {
  std::vector<nstring> lines;
  TextStream *stream = open_text(file.c_str(), text_read);
  if (stream == nullptr)
    return lines;
  std::vector<nchar> line(static_cast<size_t>(capacity));
  int length;
  while ((length = read_text_line(stream, line.data(), capacity)) > 0)
    lines.push_back(nstring(line.data(), static_cast<size_t>(length)));
  close_text(stream);
  return lines;
}

TEST_F(PlatformTest, TextLinesFoldCarriageReturnsAndKeepBytes) {
  nstring file = name(NT("list.txt"));
  ASSERT_TRUE(write_all(file, "one\r\ntwo\n\xE9t\xE9\nabcdefgh\nlast"));
  const nchar e_acute = static_cast<nchar>(static_cast<unsigned char>(0xE9));
  const nstring accented = nstring(1, e_acute) + NT("t") + e_acute + NT("\n");
  EXPECT_EQ(read_lines(file, 260), (std::vector<nstring>{NT("one\n"), NT("two\n"), accented,
                                                         NT("abcdefgh\n"), NT("last")}));
  // A line longer than the buffer comes in pieces; the line end of a line
  // that exactly fills the buffer goes with it, never as a line of its own.
  EXPECT_EQ(read_lines(file, 4),
            (std::vector<nstring>{NT("one"), NT("two"), nstring(1, e_acute) + NT("t") + e_acute,
                                  NT("abc"), NT("def"), NT("gh\n"), NT("las"), NT("t")}));

  // A NUL byte is a character of the line, counted like any other.
  ASSERT_TRUE(write_all(file, std::string("keep\0.tmp\r\n", 11)));
  EXPECT_EQ(read_lines(file, 260), (std::vector<nstring>{nstring(NT("keep\0.tmp\n"), 10)}));

  errno = 0;
  EXPECT_EQ(open_text(name(NT("missing.txt")).c_str(), text_read), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

#if !defined(_WIN32)
struct InterruptRow {
  int signal_number;
  bool temporary;
  bool watched;     // still watched when the signal comes
  bool ignored;     // the signal was ignored when the program started
  int exit_code;    // of the child
  bool left_as_was; // the output untouched by the interruption
  bool closed;      // the output was closed and its number reused first
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
    watch_output(output.c_str(), descriptor, row.temporary);
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
      {SIGINT, false, true, false, 130, false}, {SIGTERM, true, true, false, 143, false},
      {SIGHUP, false, true, false, 129, false}, {SIGINT, true, false, false, 130, true},
      {SIGHUP, true, true, true, 0, true},      {SIGTERM, false, true, false, 143, false, true},
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
      EXPECT_EQ(status.modification_time.seconds, 0) << "and never looks newer";
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
}

// ------------------------------------------------- names on the disk

TEST_F(PlatformTest, TimesSetAreTheTimesRead) {
  nstring file = name(NT("times.txt"));
  ASSERT_TRUE(write_all(file, "t"));
  const int64_t rows[][2] = {
      {1000000000, 1234567890},
      {1234567890, 1000000000},
      {4102444800, 4102444801}, // beyond 32-bit seconds
  };
  for (const auto &row : rows) {
    FileTime access, modification;
    access.seconds = row[0];
    modification.seconds = row[1];
    ASSERT_EQ(set_file_times(file.c_str(), access, modification), 0);
    FileStatus status;
    ASSERT_EQ(file_status(file.c_str(), &status), 0);
    EXPECT_EQ(status.access_time.seconds, row[0]);
    EXPECT_EQ(status.modification_time.seconds, row[1]);
  }
}

TEST_F(PlatformTest, RenameMovesTheFile) {
  nstring from = name(NT("from.txt"));
  nstring to = name(NT("to.txt"));
  ASSERT_TRUE(write_all(from, "moved"));
  ASSERT_EQ(rename_file(from.c_str(), to.c_str()), 0);
  EXPECT_EQ(read_all(to), "moved");
  FileStatus status;
  EXPECT_EQ(file_status(from.c_str(), &status), -1);
  ASSERT_EQ(remove_file(to.c_str()), 0);
  EXPECT_EQ(file_status(to.c_str(), &status), -1);
}

struct Outcome {
  int result;
  int error_number;
};

// Takes errno right after the call that is the argument.
Outcome outcome(int result) { return Outcome{result, errno}; }

TEST_F(PlatformTest, FailuresOnNamesGiveTheRuntimeReason) {
  ASSERT_TRUE(write_all(name(NT("file.txt")), "f"));
  ASSERT_EQ(make_directory(name(NT("dir")).c_str()), 0);
  const nstring missing = name(NT("missing.txt"));
  const nstring file = name(NT("file.txt"));
  FileStatus status;
  FileTime time;
  struct Row {
    const char *what;
    Outcome outcome;
    int error_number;
  };
  // The rows run in order, each clearing errno before its call.
  const Row rows[] = {
      {"remove missing", outcome((errno = 0, remove_file(missing.c_str()))), ENOENT},
      {"rename missing",
       outcome((errno = 0, rename_file(missing.c_str(), name(NT("renamed.txt")).c_str()))), ENOENT},
      {"status missing", outcome((errno = 0, file_status(missing.c_str(), &status))), ENOENT},
      {"writable missing", outcome((errno = 0, make_writable(missing.c_str()))), ENOENT},
      {"times missing", outcome((errno = 0, set_file_times(missing.c_str(), time, time))), ENOENT},
      {"directory exists", outcome((errno = 0, make_directory(name(NT("dir")).c_str()))), EEXIST},
      {"parent missing", outcome((errno = 0, make_directory(name(NT("no/dir")).c_str()))), ENOENT},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(row.outcome.result, -1) << row.what;
    EXPECT_EQ(row.outcome.error_number, row.error_number) << row.what;
  }
  EXPECT_EQ(read_all(file), "f");
}

// ------------------------------------------------- the platform copy

struct Reports {
  std::vector<std::pair<int64_t, int64_t>> calls;
};

void record_report(int64_t total, int64_t transferred, void *context) {
  static_cast<Reports *>(context)->calls.push_back(std::make_pair(total, transferred));
}

TEST_F(PlatformTest, PlatformCopyCarriesContentTimesAndProgress) {
  const std::string bytes = pattern_bytes(300000);
  nstring source = name(NT("big.bin"));
  nstring destination = name(NT("copy.bin"));
  ASSERT_TRUE(write_all(source, bytes));
  FileTime access, modification;
  access.seconds = 1100000000;
  modification.seconds = 1200000000;
  ASSERT_EQ(set_file_times(source.c_str(), access, modification), 0);
  ASSERT_TRUE(write_all(destination, pattern_bytes(500000) + "older and longer"));

  Reports reports;
  ASSERT_EQ(platform_copy_file(source.c_str(), destination.c_str(), false, record_report, &reports),
            0);
  EXPECT_EQ(read_all(destination), bytes);
  FileStatus status;
  ASSERT_EQ(file_status(destination.c_str(), &status), 0);
  EXPECT_EQ(status.modification_time.seconds, 1200000000);
  // Emulated Windows services may copy without reporting; the real ones and
  // the POSIX copy report as the data moves.
  if (!on_windows) {
    ASSERT_FALSE(reports.calls.empty());
  }
  if (!reports.calls.empty()) {
    EXPECT_EQ(reports.calls.back(), std::make_pair(int64_t(300000), int64_t(300000)));
  }
  for (size_t i = 1; i < reports.calls.size(); ++i)
    EXPECT_LE(reports.calls[i - 1].second, reports.calls[i].second);

  // A restartable copy onto the first part of the file completes it.
  ASSERT_TRUE(write_all(destination, bytes.substr(0, 1000)));
  ASSERT_EQ(platform_copy_file(source.c_str(), destination.c_str(), true, record_report, &reports),
            0);
  EXPECT_EQ(read_all(destination), bytes);

  EXPECT_NE(platform_copy_file(name(NT("missing")).c_str(), destination.c_str(), false,
                               record_report, &reports),
            0);
  EXPECT_NE(platform_copy_file(source.c_str(), name(NT("no-dir/copy.bin")).c_str(), false,
                               record_report, &reports),
            0);
  EXPECT_EQ(read_all(destination), bytes);
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

// ----------------------------------------------- names the program makes

// A symbolic link, or false where the system won't make one.
bool make_link(const nstring &link, const nstring &target) {
  std::error_code error;
  fs::create_symlink(fs::path(target), fs::path(link), error);
  return !error;
}

TEST_F(PlatformTest, NewFilesAreMadeOnlyWhereNoNameExists) {
  nstring fresh = name(NT("fresh"));
  FileIdentity made;
  int descriptor = create_new_file(fresh.c_str(), 0600, &made);
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(write_file(descriptor, "data", 4), 4);
  EXPECT_EQ(close_file(descriptor), 0);
  FileStatus status;
  ASSERT_EQ(file_status(fresh.c_str(), &status), 0);
  EXPECT_EQ(status.file_index, made.file_index);
  EXPECT_EQ(status.device, made.device);
  EXPECT_EQ(create_new_file(fresh.c_str(), 0600, &made), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(read_all(fresh), "data");

  // Links, whether they lead somewhere or nowhere, are names that are taken.
  ASSERT_TRUE(write_all(name(NT("victim")), "secret"));
  if (!make_link(name(NT("to-victim")), name(NT("victim"))) ||
      !make_link(name(NT("dangling")), name(NT("created-through-link"))))
    GTEST_SKIP() << "no symbolic links here";
  for (const nchar *leaf : {NT("to-victim"), NT("dangling")}) {
    EXPECT_EQ(create_new_file(name(leaf).c_str(), 0600, &made), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(create_new_text(name(leaf).c_str(), &made), nullptr);
    bool taken = false;
    EXPECT_NE(
        platform_copy_new_file(fresh.c_str(), name(leaf).c_str(), nullptr, nullptr, &made, &taken),
        0);
    EXPECT_TRUE(taken);
    EXPECT_EQ(name_standing(name(leaf).c_str()), name_refused);
  }
  EXPECT_EQ(read_all(name(NT("victim"))), "secret");
  EXPECT_FALSE(fs::exists(fs::path(name(NT("created-through-link")))));
}

TEST_F(PlatformTest, OnlyTheFileMadeIsRenamedAndItReplacesTheTarget) {
  nstring temporary = name(NT("temporary"));
  nstring destination = name(NT("destination"));
  ASSERT_TRUE(write_all(destination, "old"));
  Reports reports;
  FileIdentity made;
  bool taken = true;
  ASSERT_TRUE(write_all(name(NT("source")), "new"));
  ASSERT_EQ(platform_copy_new_file(name(NT("source")).c_str(), temporary.c_str(), record_report,
                                   &reports, &made, &taken),
            0);
  EXPECT_FALSE(taken);
  EXPECT_EQ(rename_made_file(temporary.c_str(), destination.c_str(), made), 0);
  EXPECT_EQ(read_all(destination), "new");
  EXPECT_FALSE(fs::exists(fs::path(temporary)));

  // Another file in the made file's place is left where it is.
  int descriptor = create_new_file(temporary.c_str(), 0600, &made);
  ASSERT_GE(descriptor, 0);
  close_file(descriptor);
  ASSERT_TRUE(write_all(name(NT("planted")), "planted"));
  ASSERT_EQ(remove_file(temporary.c_str()), 0);
  ASSERT_EQ(rename_file(name(NT("planted")).c_str(), temporary.c_str()), 0);
  EXPECT_EQ(rename_made_file(temporary.c_str(), destination.c_str(), made), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(read_all(destination), "new");
  EXPECT_EQ(read_all(temporary), "planted");
}

TEST_F(PlatformTest, NameStandingTellsOwnFilesFromOthers) {
  ASSERT_TRUE(write_all(name(NT("own")), "x"));
  EXPECT_EQ(name_standing(name(NT("own")).c_str()), name_own_file);
  EXPECT_EQ(name_standing(name(NT("missing")).c_str()), name_missing);
  EXPECT_EQ(name_standing(directory_.c_str()), name_refused);
  FileIdentity made;
  TextStream *text = create_new_text(name(NT("text")).c_str(), &made);
  ASSERT_NE(text, nullptr);
  write_text(text, "a\nb\n", 4);
  close_text(text);
  EXPECT_EQ(read_all(name(NT("text"))), "a" + line_end + "b" + line_end);
  EXPECT_NE(random_number(), random_number());
}

TEST_F(PlatformTest, FileWithoutVersionResourceHasVersionZero) {
  nstring file = name(NT("plain.txt"));
  ASSERT_TRUE(write_all(file, "MZ not really an image"));
  for (const nstring &candidate : {file, name(NT("missing.exe"))}) {
    uint32_t most = 7, least = 7;
    read_file_version(candidate.c_str(), &most, &least);
    EXPECT_EQ(most, 0u);
    EXPECT_EQ(least, 0u);
  }
}

// ------------------------------------------------- errors, time, process

TEST(PlatformServices, ErrorTextsAreTheRuntimeTexts) {
  struct Row {
    int error_number;
    const char *text;
  };
  const Row rows[] = {
      {ENOENT, "No such file or directory"},
      {EACCES, "Permission denied"},
      {EEXIST, "File exists"},
      {ENOSPC, "No space left on device"},
  };
  for (const Row &row : rows)
    EXPECT_EQ(error_text(row.error_number), row.text);

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

TEST(PlatformServices, EnvironmentAndNames) {
  nstring value;
  EXPECT_FALSE(environment_value("ZOROV_SURELY_NOT_SET_ANYWHERE", &value));
  ASSERT_TRUE(environment_value("PATH", &value));
  EXPECT_FALSE(value.empty());
  EXPECT_EQ(narrow_text(NT("plain name-1.txt")), "plain name-1.txt");
  EXPECT_EQ(narrow_text(NT("")), "");
  EXPECT_FALSE(help_directory().empty());
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

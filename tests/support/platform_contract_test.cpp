// The behaviour every platform layer owes the program, checked once and run
// against each: the in-memory platform of the unit tests and the real layer
// of the build, natively and under wine. Each test works in a fresh current
// directory that the binary's fixture provides. Where the platforms truly
// differ, the expectation is computed from the native path style.
#include "support/platform_contract.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zorov {
namespace {

using namespace contract;

std::string pattern_bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 7) % 251);
  return bytes;
}

bool exists(const nstring &name) {
  FileStatus status;
  return file_status(name.c_str(), &status) == 0;
}

// 1 when both names exist and their status carries one known identity, the
// identity the program tells files apart by; else 0.
int same_identity(const nstring &first, const nstring &second) {
  FileStatus one, other;
  if (file_status(first.c_str(), &one) != 0 || file_status(second.c_str(), &other) != 0)
    return 0;
  bool known = one.device != 0 || one.file_index != 0;
  return known && one.device == other.device && one.file_index == other.file_index ? 1 : 0;
}

// A call's result and the errno right after it.
struct Outcome {
  int result;
  int error_number;
};

Outcome outcome(int result) { return Outcome{result, errno}; }

class PlatformContract : public ::testing::Test {
protected:
  void SetUp() override { here_ = contract::enter_fresh_directory(); }
  void TearDown() override { contract::leave_fresh_directory(); }

  nstring here_;
};

// ------------------------------------------------- file descriptors

TEST_F(PlatformContract, WrittenBytesReadBackAtAnyPosition) {
  const std::string bytes = pattern_bytes(100000);
  int output = open_file(NT("data.bin"), open_write_truncate, share_deny_read_write, 0644);
  ASSERT_GE(output, 0);
  EXPECT_EQ(write_file(output, bytes.data(), 60000), 60000);
  EXPECT_EQ(write_file(output, bytes.data() + 60000, 40000), 40000);
  EXPECT_EQ(file_length(output), 100000);
  EXPECT_EQ(close_file(output), 0);

  int input = open_file(NT("data.bin"), open_read, share_deny_write, 0);
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

  EXPECT_EQ(stream_length(NT("data.bin")), 100000);
  FileStatus status;
  ASSERT_EQ(file_status(NT("data.bin"), &status), 0);
  EXPECT_EQ(status.size, 100000);
  EXPECT_TRUE(status.is_regular);
  EXPECT_FALSE(status.is_directory);
  EXPECT_FALSE(status.read_only);
}

TEST_F(PlatformContract, OutputModesTruncateOrAppend) {
  ASSERT_TRUE(write_all(NT("modes.txt"), "abc"));
  int append = open_file(NT("modes.txt"), open_append, share_deny_read_write, 0644);
  ASSERT_GE(append, 0);
  EXPECT_EQ(seek_file(append, 0), 0);
  EXPECT_EQ(write_file(append, "d", 1), 1); // lands at the end all the same
  close_file(append);
  EXPECT_EQ(read_all(NT("modes.txt")), "abcd");

  int truncate = open_file(NT("modes.txt"), open_write_truncate, share_deny_read_write, 0644);
  ASSERT_GE(truncate, 0);
  EXPECT_EQ(file_length(truncate), 0);
  EXPECT_EQ(write_file(truncate, "xy", 0), 0);
  close_file(truncate);
  EXPECT_EQ(read_all(NT("modes.txt")), "");

  append = open_file(NT("created.txt"), open_append, share_deny_write, 0644);
  ASSERT_GE(append, 0);
  EXPECT_EQ(write_file(append, "new", 3), 3);
  close_file(append);
  EXPECT_EQ(read_all(NT("created.txt")), "new");
}

TEST_F(PlatformContract, DevicesAndPipesAreWrittenAsTheyAre) {
  std::string why;
  if (!contract::make_null_device(NT("null"), &why) || !contract::make_pipe(NT("pipe"), &why))
    GTEST_SKIP() << why;
  FileStatus status;
  ASSERT_EQ(file_status(NT("null"), &status), 0);
  EXPECT_FALSE(status.is_regular || status.is_directory);
  for (OpenMode mode : {open_write_truncate, open_append}) {
    int output = open_file(NT("null"), mode, share_deny_read_write, 0644);
    ASSERT_GE(output, 0) << mode;
    EXPECT_EQ(write_file(output, "gone", 4), 4);
    EXPECT_EQ(close_file(output), 0);
  }
  ASSERT_EQ(file_status(NT("null"), &status), 0);
  EXPECT_FALSE(status.is_regular) << "still the device, no file in its place";
  // No reader: refused at once, where waiting for one would never end.
  errno = 0;
  Outcome opened = outcome(open_file(NT("pipe"), open_write_truncate, share_deny_read_write, 0644));
  EXPECT_EQ(opened.result, -1);
  EXPECT_EQ(opened.error_number, ENXIO);
  ASSERT_EQ(file_status(NT("pipe"), &status), 0);
  EXPECT_FALSE(status.is_regular || status.is_directory);
}

// ------------------------------------------------- read-only files

TEST_F(PlatformContract, ReadOnlyFileRefusesWritersUntilMadeWritable) {
  ASSERT_TRUE(write_all(NT("locked.txt"), "keep"));
  contract::make_read_only(NT("locked.txt"));
  FileStatus status;
  ASSERT_EQ(file_status(NT("locked.txt"), &status), 0);
  EXPECT_TRUE(status.read_only);
  for (OpenMode mode : {open_write_truncate, open_append}) {
    errno = 0;
    int descriptor = open_file(NT("locked.txt"), mode, share_deny_read_write, 0644);
    EXPECT_EQ(descriptor, -1) << mode;
    EXPECT_EQ(errno, EACCES) << mode;
    if (descriptor >= 0)
      close_file(descriptor);
  }
  EXPECT_EQ(read_all(NT("locked.txt")), "keep");

  DirectoryEntry entry;
  DirectorySearch *search = search_first(NT("locked.txt"), &entry);
  ASSERT_NE(search, nullptr);
  EXPECT_NE(entry.attributes & attribute_read_only, 0u);
  search_close(search);

  // The attributes of a copy carry the state over.
  ASSERT_TRUE(write_all(NT("written.txt"), "w"));
  ASSERT_EQ(copy_file_attributes(NT("locked.txt"), NT("written.txt")), 0);
  ASSERT_EQ(file_status(NT("written.txt"), &status), 0);
  EXPECT_TRUE(status.read_only);

  ASSERT_EQ(make_writable(NT("locked.txt")), 0);
  ASSERT_EQ(file_status(NT("locked.txt"), &status), 0);
  EXPECT_FALSE(status.read_only);
  EXPECT_TRUE(write_all(NT("locked.txt"), "changed"));
  EXPECT_EQ(read_all(NT("locked.txt")), "changed");
  make_writable(NT("written.txt"));
}

// A copy of a read-only source is made with the source's permissions; the
// new file is still written, and only later writers are refused (on POSIX;
// Windows gives a new file write permission whatever is asked).
TEST_F(PlatformContract, NewFileIsWrittenWhateverPermissionsItGets) {
  int descriptor = open_file(NT("fresh.txt"), open_write_truncate, share_deny_read_write, 0444);
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(write_file(descriptor, "data", 4), 4);
  close_file(descriptor);
  EXPECT_EQ(read_all(NT("fresh.txt")), "data");
  FileStatus status;
  ASSERT_EQ(file_status(NT("fresh.txt"), &status), 0);
  EXPECT_EQ(status.read_only, !on_windows);
  make_writable(NT("fresh.txt"));
}

// A new file never runs with its owner's rights, whatever bits it is made
// with: a copy of a program would otherwise run as whoever made the copy.
TEST_F(PlatformContract, NewFileNeverGetsTheRunAsOwnerBits) {
  if (on_windows)
    GTEST_SKIP() << "Windows files have no such bits";
  int descriptor = open_file(NT("program"), open_write_truncate, share_deny_read_write, 06755);
  ASSERT_GE(descriptor, 0);
  close_file(descriptor);
  FileStatus status;
  ASSERT_EQ(file_status(NT("program"), &status), 0);
  EXPECT_EQ(status.permissions & 06000, 0u);
  EXPECT_EQ(status.permissions & 0700, 0700u);
}

// ------------------------------------------------------ directory search

struct Listing {
  std::vector<nstring> names; // in the order the search gives them
  std::map<nstring, uint32_t> attributes;
};

Listing search_all(const nstring &pattern) {
  Listing listing;
  DirectoryEntry entry;
  DirectorySearch *search = search_first(pattern.c_str(), &entry);
  if (search == nullptr)
    return listing;
  do {
    listing.names.push_back(entry.name);
    listing.attributes[entry.name] = entry.attributes;
  } while (search_next(search, &entry) == 1);
  search_close(search);
  return listing;
}

TEST_F(PlatformContract, SearchListsMatchesInOrderWithTheirAttributes) {
  for (const nchar *file : {NT("b.txt"), NT("a.txt"), NT("ab.txt"), NT("c.dat"), NT("noext"),
                            NT(".h.txt"), NT("B2.txt")})
    ASSERT_TRUE(write_all(file, "x"));
  ASSERT_EQ(make_directory(NT("d.txt")), 0);

  // Entries come sorted: byte for byte on POSIX, by their capitals as
  // Windows file systems keep them.
  typedef std::vector<nstring> Names;
  const Names everything =
      on_windows ? Names{NT("."),     NT(".."),     NT(".h.txt"), NT("a.txt"), NT("ab.txt"),
                         NT("b.txt"), NT("B2.txt"), NT("c.dat"),  NT("d.txt"), NT("noext")}
                 : Names{NT("."),      NT(".."),    NT(".h.txt"), NT("B2.txt"), NT("a.txt"),
                         NT("ab.txt"), NT("b.txt"), NT("c.dat"),  NT("d.txt"),  NT("noext")};
  Names txt;
  for (const nstring &name : everything)
    if (name.size() > 4 && name.substr(name.size() - 4) == NT(".txt"))
      txt.push_back(name);
  struct Row {
    nstring pattern;
    Names expected;
  };
  const Row rows[] = {
      {NT("*.txt"), txt},
      {NT("?.txt"), {NT("a.txt"), NT("b.txt"), NT("d.txt")}},
      {NT("*.*"), everything},
      {NT("*"), everything},
      {NT("c.dat"), {NT("c.dat")}},
      {joined(here_, NT("c.*")), {NT("c.dat")}},
      {NT("*.xyz"), {}},
      {NT("no-dir/*"), {}},
      // Windows names match without regard to case, POSIX names byte for
      // byte.
      {NT("A.TXT"), on_windows ? Names{NT("a.txt")} : Names{}},
      {NT("b2.*"), on_windows ? Names{NT("B2.txt")} : Names{}},
  };
  for (const Row &row : rows) {
    Names names = search_all(row.pattern).names;
    EXPECT_EQ(names, row.expected) << narrow_text(row.pattern.c_str());
  }

  EXPECT_EQ(exists(NT("A.TXT")), on_windows);

  std::map<nstring, uint32_t> found = search_all(NT("*")).attributes;
  EXPECT_NE(found[NT("d.txt")] & attribute_directory, 0u);
  EXPECT_EQ(found[NT("a.txt")] & (attribute_directory | attribute_hidden), 0u);
  // A dot-name is what hides a file on POSIX; Windows keeps a separate bit
  // for it.
  if (!on_windows) {
    EXPECT_NE(found[NT(".h.txt")] & attribute_hidden, 0u);
  }
}

// A name that ends in a dot or a blank (made by another system) names a
// file of its own, never the one without them.
TEST_F(PlatformContract, NamesEndingInADotOrABlankAreTheirOwnFiles) {
  EXPECT_TRUE(write_all(NT("x"), "plain"));
  EXPECT_TRUE(write_all(NT("x."), "dot"));
  EXPECT_EQ(make_directory(NT("d.")), 0);
  EXPECT_TRUE(write_all(NT("d./y "), "blank"));
  EXPECT_EQ(read_all(NT("x")) + read_all(NT("x.")) + read_all(NT("d./y ")), "plaindotblank");
  FileStatus status;
  EXPECT_EQ(file_status(NT("x."), &status), 0);
  EXPECT_EQ(status.size, 3);
  EXPECT_EQ(file_status(NT("d."), &status), 0);
  EXPECT_TRUE(status.is_directory);
  EXPECT_EQ(search_all(NT("d./y*")).names, std::vector<nstring>{NT("y ")});
  nstring full;
  EXPECT_EQ(resolve_full_path(NT("x."), &full), 0);
  EXPECT_EQ(full, joined(here_, NT("x.")));
  EXPECT_EQ(rename_file(NT("x."), NT("z.")), 0);
  EXPECT_EQ(read_all(NT("z.")), "dot");
  EXPECT_EQ(remove_file(NT("z.")), 0);
  EXPECT_EQ(read_all(NT("x")), "plain");
  // The fixture's clean-up goes by the runtime's plain names, which can't
  // reach these.
  EXPECT_EQ(remove_file(NT("d./y ")), 0);
  EXPECT_EQ(rename_file(NT("d."), NT("d")), 0);
}

// ------------------------------------------------------- full-path names

TEST_F(PlatformContract, FullPathsFoldAgainstTheCurrentDirectory) {
  const nstring sub_c = joined(joined(here_, NT("a")), NT("c.txt"));
  struct Row {
    nstring name;
    nstring expected;
  };
  std::vector<Row> rows = {
      {NT(""), here_},
      {NT("."), here_},
      {NT("x.txt"), joined(here_, NT("x.txt"))},
      {NT("a/./b/../c.txt"), sub_c},
      {NT("a//b/../../a/c.txt"), sub_c},
      {NT("sub/"), joined(here_, NT("sub")) + separator},
      {here_ + NT("/deep/../f.txt"), joined(here_, NT("f.txt"))},
      {here_ + NT("/./g.txt"), joined(here_, NT("g.txt"))},
  };
  if (on_windows) {
    // A drive and a dot is that drive's current directory, in either letter
    // case; another drive's is its root. (wine ends the name of a bare
    // drive with a separator, Windows does not.)
    nstring drive = here_.substr(0, 2);
    nstring small = drive;
    small[0] = nchar(small[0] | 0x20);
    nstring other = drive[0] == NT('Q') ? NT("R:") : NT("Q:");
    rows.push_back({drive + NT("."), here_});
    rows.push_back({small + NT("."), here_});
    rows.push_back({drive + NT("sub"), joined(here_, NT("sub"))});
    rows.push_back({NT("\\top"), drive + NT("\\top")});
    rows.push_back({other + NT("/a/../b/"), other + NT("\\b\\")});
  } else {
    rows.push_back({NT("a\\b:c"), joined(here_, NT("a\\b:c"))});
    rows.push_back({NT("/"), NT("/")});
  }
  for (const Row &row : rows) {
    nstring full;
    ASSERT_EQ(resolve_full_path(row.name.c_str(), &full), 0) << narrow_text(row.name.c_str());
    EXPECT_EQ(full, row.expected) << narrow_text(row.name.c_str());
  }
}

TEST_F(PlatformContract, FullPathsBeyondTheLimitAreRefused) {
  const nstring prefix = joined(here_, NT(""));
  ASSERT_LT(prefix.size(), static_cast<size_t>(kPathMax - 10));
  size_t fitting = static_cast<size_t>(kPathMax) - prefix.size();
  nstring full;
  ASSERT_EQ(resolve_full_path(nstring(fitting, NT('n')).c_str(), &full), 0);
  EXPECT_EQ(full.size(), static_cast<size_t>(kPathMax));
  for (size_t length : {fitting + 1, size_t(40000)}) {
    errno = 0;
    EXPECT_EQ(resolve_full_path(nstring(length, NT('n')).c_str(), &full), -1) << length;
    EXPECT_EQ(errno, ENAMETOOLONG) << length;
  }
  // A file system takes a component of 255 units, and not one more, where a
  // whole name leaves room for that many.
  if (prefix.size() + 256 > static_cast<size_t>(kPathMax))
    return;
  EXPECT_TRUE(write_all(nstring(255, NT('n')), "fits"));
  errno = 0;
  EXPECT_EQ(open_file(nstring(256, NT('n')).c_str(), open_write_truncate, share_deny_none, 0644),
            -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
}

// ------------------------------------------------------ file identity

TEST_F(PlatformContract, IdentityFollowsTheFileNotItsSpelling) {
  ASSERT_TRUE(write_all(NT("same.txt"), "content"));
  ASSERT_TRUE(write_all(NT("other.txt"), "content"));
  ASSERT_EQ(make_directory(NT("sub")), 0);
  const nstring detour = joined(joined(joined(here_, NT("sub")), NT("..")), NT("same.txt"));
  struct Row {
    nstring first, second;
    int expected;
  };
  std::vector<Row> rows = {
      {NT("same.txt"), NT("same.txt"), 1},       {NT("same.txt"), detour, 1},
      {NT("same.txt"), NT("./same.txt"), 1},     {here_, joined(here_, NT(".")), 1},
      {NT("same.txt"), NT("other.txt"), 0},      {NT("same.txt"), NT("missing.txt"), 0},
      {NT("missing.txt"), NT("missing.txt"), 0},
  };
  if (on_windows) // a bare drive is its current directory, not its root
    rows.push_back({here_.substr(0, 2), NT("."), 1});
  std::string why;
  if (contract::make_hard_link(NT("second-name"), NT("same.txt"), &why))
    rows.push_back({NT("same.txt"), NT("second-name"), 1});
  else
    std::printf("hard-link rows left out: %s\n", why.c_str());
  for (const Row &row : rows)
    EXPECT_EQ(same_identity(row.first, row.second), row.expected)
        << narrow_text(row.first.c_str()) << " " << narrow_text(row.second.c_str());
  if (on_windows) {
    FileStatus drive;
    ASSERT_EQ(file_status(here_.substr(0, 2).c_str(), &drive), 0);
    EXPECT_TRUE(drive.is_directory);
  }
}

// Where a file system gives each name of a file an identity of its own, the
// file's status still tells it from a copy that was given its times.
TEST_F(PlatformContract, ChangeTimeFollowsTheFileAndNoCopyGetsIt) {
  ASSERT_TRUE(write_all(NT("first.txt"), "content"));
  FileStatus first, second;
  ASSERT_EQ(file_status(NT("first.txt"), &first), 0);
  std::string why;
  if (contract::make_hard_link(NT("second-name"), NT("first.txt"), &why)) {
    ASSERT_EQ(file_status(NT("first.txt"), &first), 0); // a new link changes it
    ASSERT_EQ(file_status(NT("second-name"), &second), 0);
    EXPECT_EQ(first.change_time.seconds, second.change_time.seconds);
    EXPECT_EQ(first.change_time.nanoseconds, second.change_time.nanoseconds);
  }
  // Windows keeps the moment a file was made in whole seconds.
  if (on_windows)
    return;
  pause_milliseconds(20);
  ASSERT_TRUE(write_all(NT("copy.txt"), "content"));
  ASSERT_EQ(set_file_times(NT("copy.txt"), first.access_time, first.modification_time), 0);
  ASSERT_EQ(file_status(NT("copy.txt"), &second), 0);
  EXPECT_TRUE(first.change_time.seconds != second.change_time.seconds ||
              first.change_time.nanoseconds != second.change_time.nanoseconds);
}

// ------------------------------------------------------- text streams

TEST_F(PlatformContract, TextLinesFoldCarriageReturnsAndKeepBytes) {
  ASSERT_TRUE(write_all(NT("list.txt"), "one\r\ntwo\n\xE9t\xE9\nabcdefgh\nlast"));
  const nchar e_acute = static_cast<nchar>(static_cast<unsigned char>(0xE9));
  const nstring accented = nstring(1, e_acute) + NT("t") + e_acute;
  EXPECT_EQ(read_lines(NT("list.txt"), 260),
            (std::vector<nstring>{NT("one\n"), NT("two\n"), accented + NT("\n"), NT("abcdefgh\n"),
                                  NT("last")}));
  // A line longer than the buffer is refused whole, never cut into names;
  // the line end of a line that exactly fills the buffer goes with it, never
  // as a line of its own.
  EXPECT_EQ(
      read_lines(NT("list.txt"), 4),
      (std::vector<nstring>{NT("one"), NT("two"), accented, NT("<too long>"), NT("<too long>")}));
  // A line of the longest name a path buffer holds.
  const nstring longest(static_cast<size_t>(kPathMax), NT('n'));
  ASSERT_TRUE(write_all(NT("list.txt"), std::string(size_t(kPathMax), 'n') + "\r\n\r\nnext"));
  EXPECT_EQ(read_lines(NT("list.txt"), kPathCapacity),
            (std::vector<nstring>{longest, NT("\n"), NT("next")}));

  // A NUL byte is a character of the line, counted like any other.
  ASSERT_TRUE(write_all(NT("list.txt"), std::string("keep\0.tmp\r\n", 11)));
  EXPECT_EQ(read_lines(NT("list.txt"), 260),
            (std::vector<nstring>{nstring(NT("keep\0.tmp\n"), 10)}));

  // A byte-order mark is no character of the first line; a UTF-16 text is
  // read as such: in UTF-8 on POSIX, as it is on Windows. An odd last byte
  // is no UTF-16 text.
  const nstring e_wide = on_windows ? nstring(1, static_cast<nchar>(0xE9)) : NT("\xC3\xA9");
  struct MarkedRow {
    std::string bytes;
    std::vector<nstring> lines;
  } marked[] = {
      {"\xEF\xBB\xBFt1\r\nt2", {NT("t1\n"), NT("t2")}},
      {std::string("\xFF\xFEt\0\xE9\0\r\0\n\0z\0\n", 13),
       {NT("t") + e_wide + NT("\n"), NT("<not text>")}},
      {std::string("\xFE\xFF\0t\0\n\0\xE9", 8), {NT("t\n"), e_wide}},
      {"\xFF\xFF\xFEt", {NT("\xFF\xFF\xFEt")}},
      {"a\r\r\nb", {NT("a\r\n"), NT("b")}},
  };
  for (const MarkedRow &row : marked) {
    ASSERT_TRUE(write_all(NT("list.txt"), row.bytes));
    EXPECT_EQ(read_lines(NT("list.txt"), 260), row.lines) << row.bytes;
  }
  // Windows text ends at a Ctrl-Z, as its runtime's text mode reads it.
  ASSERT_TRUE(write_all(NT("list.txt"), "a\r\nb\x1A\r\nc"));
  const std::vector<nstring> windows_lines = {NT("a\n"), NT("b")};
  const std::vector<nstring> posix_lines = {NT("a\n"), NT("b\x1A\n"), NT("c")};
  EXPECT_EQ(read_lines(NT("list.txt"), 260), on_windows ? windows_lines : posix_lines);

  // Text written reads back as the lines it was written as, and the calls
  // that took it say so.
  TextStream *text = create_text_in_place(NT("made.txt"));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(write_text(text, "a\nb\n", 4), 0);
  EXPECT_EQ(flush_text(text), 0);
  EXPECT_EQ(close_text(text), 0);
  text = open_text(NT("made.txt"), text_append);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(write_text(text, "c\n", 2), 0);
  EXPECT_EQ(close_text(text), 0);
  EXPECT_EQ(read_lines(NT("made.txt"), 260),
            (std::vector<nstring>{NT("a\n"), NT("b\n"), NT("c\n")}));
  text = open_text(NT("made.txt"), text_replace);
  ASSERT_NE(text, nullptr);
  write_text(text, "z", 1);
  close_text(text);
  EXPECT_EQ(read_lines(NT("made.txt"), 260), std::vector<nstring>{NT("z")});

  errno = 0;
  EXPECT_EQ(open_text(NT("missing.txt"), text_read), nullptr);
  EXPECT_EQ(errno, ENOENT);
  ASSERT_EQ(make_directory(NT("dir")), 0);
  errno = 0;
  EXPECT_EQ(open_text(NT("dir"), text_read), nullptr);
  EXPECT_EQ(errno, on_windows ? EACCES : EISDIR);
}

// A list that is also written while it is read (the run's own log named
// as a response file) gives only the lines it held when opened: it never
// grows under its reader without end.
TEST_F(PlatformContract, TextReadStopsWhereTheFileEndedWhenOpened) {
  ASSERT_TRUE(write_all(NT("grows.txt"), "one\ntwo\n"));
  TextStream *reader = open_text(NT("grows.txt"), text_read);
  ASSERT_NE(reader, nullptr);
  TextStream *writer = open_text(NT("grows.txt"), text_append);
  ASSERT_NE(writer, nullptr);
  std::vector<nchar> line(260);
  std::vector<nstring> lines;
  int length;
  while (lines.size() < 10 && (length = read_text_line(reader, line.data(), 260)) > 0) {
    lines.push_back(nstring(line.data(), static_cast<size_t>(length)));
    write_text(writer, "more\n", 5);
    flush_text(writer);
  }
  close_text(writer);
  close_text(reader);
  EXPECT_EQ(lines, (std::vector<nstring>{NT("one\n"), NT("two\n")}));
}

// ------------------------------------------------- names on the disk

TEST_F(PlatformContract, TimesSetAreTheTimesRead) {
  ASSERT_TRUE(write_all(NT("times.txt"), "t"));
  const int64_t rows[][2] = {
      {1000000000, 1234567890},
      {1234567890, 1000000000},
      {4102444800, 4102444801}, // beyond 32-bit seconds
      {0, -3},                  // before 1970 (the mark of a partial copy)
      {-100000000, -100000003},
  };
  for (const auto &row : rows) {
    FileTime access, modification;
    access.seconds = row[0];
    modification.seconds = row[1];
    ASSERT_EQ(set_file_times(NT("times.txt"), access, modification), 0);
    FileStatus status;
    ASSERT_EQ(file_status(NT("times.txt"), &status), 0);
    EXPECT_EQ(status.access_time.seconds, row[0]);
    EXPECT_EQ(status.modification_time.seconds, row[1]);
  }
}

TEST_F(PlatformContract, RenameMovesFilesAndWholeTrees) {
  ASSERT_TRUE(write_all(NT("from.txt"), "moved"));
  ASSERT_EQ(rename_file(NT("from.txt"), NT("to.txt")), 0);
  EXPECT_EQ(read_all(NT("to.txt")), "moved");
  EXPECT_FALSE(exists(NT("from.txt")));

  ASSERT_EQ(make_directory(NT("old")), 0);
  ASSERT_EQ(make_directory(NT("old/inner")), 0);
  ASSERT_TRUE(write_all(NT("old/inner/f"), "x"));
  ASSERT_EQ(rename_file(NT("old"), NT("new")), 0);
  EXPECT_FALSE(exists(NT("old/inner/f")));
  EXPECT_EQ(read_all(NT("new/inner/f")), "x");

  // Onto a name that exists: POSIX replaces the file, Windows refuses.
  ASSERT_TRUE(write_all(NT("other.txt"), "other"));
  errno = 0;
  Outcome over = outcome(rename_file(NT("other.txt"), NT("to.txt")));
  if (on_windows) {
    EXPECT_EQ(over.result, -1);
    EXPECT_EQ(over.error_number, EEXIST);
    EXPECT_EQ(read_all(NT("to.txt")), "moved");
  } else {
    EXPECT_EQ(over.result, 0);
    EXPECT_EQ(read_all(NT("to.txt")), "other");
    EXPECT_FALSE(exists(NT("other.txt")));
  }
}

TEST_F(PlatformContract, FailuresOnNamesGiveTheRuntimeReason) {
  ASSERT_TRUE(write_all(NT("file.txt"), "f"));
  ASSERT_TRUE(write_all(NT("locked.txt"), "l"));
  contract::make_read_only(NT("locked.txt"));
  ASSERT_EQ(make_directory(NT("dir")), 0);
  // Beyond the longest name a path buffer holds.
  const nstring too_long = joined(here_, nstring(size_t(kPathMax), NT('n')));
  FileStatus status;
  FileTime time;
  FileIdentity made;
  const int on_directory = on_windows ? EACCES : EISDIR;
  struct Row {
    const char *what;
    Outcome outcome;
    int error_number; // 0: the call succeeds
  };
  // The rows run in order, each clearing errno before its call.
  const Row rows[] = {
      {"open missing",
       outcome((errno = 0, open_file(NT("missing.txt"), open_read, share_deny_none, 0))), ENOENT},
      {"create, parent missing",
       outcome(
           (errno = 0, open_file(NT("no-dir/new"), open_write_truncate, share_deny_none, 0644))),
       ENOENT},
      {"append, parent missing",
       outcome((errno = 0, open_file(NT("no-dir/new"), open_append, share_deny_none, 0644))),
       ENOENT},
      {"write a directory",
       outcome((errno = 0, open_file(NT("dir"), open_write_truncate, share_deny_none, 0644))),
       on_directory},
      {"open too long",
       outcome(
           (errno = 0, open_file(too_long.c_str(), open_write_truncate, share_deny_none, 0644))),
       on_windows ? ENOENT : ENAMETOOLONG},
      {"length missing", outcome((errno = 0, int(stream_length(NT("missing.txt"))))), ENOENT},
      {"remove missing", outcome((errno = 0, remove_file(NT("missing.txt")))), ENOENT},
      {"remove directory", outcome((errno = 0, remove_file(NT("dir")))), on_directory},
      {"remove read-only", outcome((errno = 0, remove_file(NT("locked.txt")))),
       on_windows ? EACCES : 0},
      {"rename missing", outcome((errno = 0, rename_file(NT("missing.txt"), NT("renamed.txt")))),
       ENOENT},
      {"status missing", outcome((errno = 0, file_status(NT("missing.txt"), &status))), ENOENT},
      {"writable missing", outcome((errno = 0, make_writable(NT("missing.txt")))), ENOENT},
      {"times missing", outcome((errno = 0, set_file_times(NT("missing.txt"), time, time))),
       ENOENT},
      {"attributes missing",
       outcome((errno = 0, copy_file_attributes(NT("missing.txt"), NT("file.txt")))), ENOENT},
      {"directory exists", outcome((errno = 0, make_directory(NT("dir")))), EEXIST},
      {"directory on a file", outcome((errno = 0, make_directory(NT("file.txt")))), EEXIST},
      {"parent missing", outcome((errno = 0, make_directory(NT("no/dir")))), ENOENT},
      {"exclusive create", outcome((errno = 0, create_new_file(NT("file.txt"), 0600, &made))),
       EEXIST},
  };
  for (const Row &row : rows) {
    if (row.error_number == 0) {
      EXPECT_EQ(row.outcome.result, 0) << row.what;
      continue;
    }
    EXPECT_EQ(row.outcome.result, -1) << row.what;
    EXPECT_EQ(row.outcome.error_number, row.error_number) << row.what;
  }
  EXPECT_EQ(read_all(NT("file.txt")), "f");
  make_writable(NT("locked.txt"));
}

// ------------------------------------------------- the platform copy

struct Reports {
  std::vector<std::pair<int64_t, int64_t>> calls;
};

void record_report(int64_t total, int64_t transferred, void *context) {
  static_cast<Reports *>(context)->calls.push_back(std::make_pair(total, transferred));
}

TEST_F(PlatformContract, PlatformCopyCarriesContentTimesAndProgress) {
  const std::string bytes = pattern_bytes(300000);
  ASSERT_TRUE(write_all(NT("big.bin"), bytes));
  FileTime access, modification;
  access.seconds = 1100000000;
  modification.seconds = 1200000000;
  ASSERT_EQ(set_file_times(NT("big.bin"), access, modification), 0);
  ASSERT_TRUE(write_all(NT("copy.bin"), pattern_bytes(500000) + "older and longer"));

  Reports reports;
  ASSERT_EQ(platform_copy_file(NT("big.bin"), NT("copy.bin"), false, record_report, &reports), 0);
  EXPECT_EQ(read_all(NT("copy.bin")), bytes);
  FileStatus status;
  ASSERT_EQ(file_status(NT("copy.bin"), &status), 0);
  EXPECT_EQ(status.modification_time.seconds, 1200000000);
  // Emulated Windows services may copy without reporting; the others report
  // as the data moves.
  if (!reports.calls.empty()) {
    EXPECT_EQ(reports.calls.back(), std::make_pair(int64_t(300000), int64_t(300000)));
  }
  for (size_t i = 1; i < reports.calls.size(); ++i)
    EXPECT_LE(reports.calls[i - 1].second, reports.calls[i].second);

  // A restartable copy onto the first part of the file completes it.
  ASSERT_TRUE(write_all(NT("copy.bin"), bytes.substr(0, 1000)));
  ASSERT_EQ(platform_copy_file(NT("big.bin"), NT("copy.bin"), true, record_report, &reports), 0);
  EXPECT_EQ(read_all(NT("copy.bin")), bytes);

  EXPECT_NE(platform_copy_file(NT("missing"), NT("copy.bin"), false, record_report, &reports), 0);
  EXPECT_NE(
      platform_copy_file(NT("big.bin"), NT("no-dir/copy.bin"), false, record_report, &reports), 0);
  EXPECT_EQ(read_all(NT("copy.bin")), bytes);
}

// ----------------------------------------------- names the program makes

TEST_F(PlatformContract, NewFilesAreMadeOnlyWhereNoNameExists) {
  FileIdentity made;
  int descriptor = create_new_file(NT("fresh"), 0600, &made);
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(write_file(descriptor, "data", 4), 4);
  EXPECT_EQ(close_file(descriptor), 0);
  FileStatus status;
  ASSERT_EQ(file_status(NT("fresh"), &status), 0);
  EXPECT_EQ(status.file_index, made.file_index);
  EXPECT_EQ(status.device, made.device);
  errno = 0;
  EXPECT_EQ(create_new_file(NT("fresh"), 0600, &made), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(read_all(NT("fresh")), "data");

  // Links, whether they lead somewhere or nowhere, are names that are taken.
  ASSERT_TRUE(write_all(NT("victim"), "secret"));
  std::string why;
  if (!contract::make_symbolic_link(NT("to-victim"), joined(here_, NT("victim")), &why) ||
      !contract::make_symbolic_link(NT("dangling"), joined(here_, NT("through-link")), &why))
    GTEST_SKIP() << why;
  for (const nchar *leaf : {NT("to-victim"), NT("dangling")}) {
    errno = 0;
    EXPECT_EQ(create_new_file(leaf, 0600, &made), -1);
    EXPECT_EQ(errno, EEXIST);
    bool taken = false;
    EXPECT_NE(platform_copy_new_file(NT("fresh"), leaf, nullptr, nullptr, &made, &taken), 0);
    EXPECT_TRUE(taken);
    EXPECT_EQ(name_standing(leaf), name_refused);
    EXPECT_EQ(create_text_in_place(leaf), nullptr);
  }
  EXPECT_EQ(read_all(NT("victim")), "secret");
  EXPECT_FALSE(exists(NT("through-link")));
}

TEST_F(PlatformContract, SymbolicLinksAreFollowedButRemovedAndRenamedThemselves) {
  ASSERT_TRUE(write_all(NT("target"), "through"));
  std::string why;
  if (!contract::make_symbolic_link(NT("link"), joined(here_, NT("target")), &why))
    GTEST_SKIP() << why;
  EXPECT_EQ(read_all(NT("link")), "through");
  EXPECT_EQ(same_identity(NT("link"), NT("target")), 1);
  ASSERT_TRUE(write_all(NT("link"), "written"));
  EXPECT_EQ(read_all(NT("target")), "written");
  ASSERT_EQ(rename_file(NT("link"), NT("moved")), 0);
  EXPECT_EQ(read_all(NT("moved")), "written");
  ASSERT_EQ(remove_file(NT("moved")), 0);
  EXPECT_FALSE(exists(NT("moved")));
  EXPECT_EQ(read_all(NT("target")), "written");
}

TEST_F(PlatformContract, OnlyTheFileMadeIsRenamedAndItReplacesTheTarget) {
  ASSERT_TRUE(write_all(NT("destination"), "old"));
  ASSERT_TRUE(write_all(NT("source"), "new"));
  Reports reports;
  FileIdentity made;
  bool taken = true;
  ASSERT_EQ(
      platform_copy_new_file(NT("source"), NT("temporary"), record_report, &reports, &made, &taken),
      0);
  EXPECT_FALSE(taken);
  EXPECT_EQ(rename_made_file(NT("temporary"), NT("destination"), made), 0);
  EXPECT_EQ(read_all(NT("destination")), "new");
  EXPECT_FALSE(exists(NT("temporary")));

  // Another file in the made file's place is left where it is.
  int descriptor = create_new_file(NT("temporary"), 0600, &made);
  ASSERT_GE(descriptor, 0);
  close_file(descriptor);
  ASSERT_TRUE(write_all(NT("planted"), "planted"));
  ASSERT_EQ(remove_file(NT("temporary")), 0);
  ASSERT_EQ(rename_file(NT("planted"), NT("temporary")), 0);
  errno = 0;
  EXPECT_EQ(rename_made_file(NT("temporary"), NT("destination"), made), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(read_all(NT("destination")), "new");
  EXPECT_EQ(read_all(NT("temporary")), "planted");
}

TEST_F(PlatformContract, NameStandingTellsOwnFilesFromOthers) {
  ASSERT_TRUE(write_all(NT("own"), "x"));
  ASSERT_EQ(make_directory(NT("dir")), 0);
  EXPECT_EQ(name_standing(NT("own")), name_own_file);
  EXPECT_EQ(name_standing(NT("missing")), name_missing);
  EXPECT_EQ(name_standing(NT("dir")), name_refused);
  EXPECT_EQ(name_standing(here_.c_str()), name_refused);
}

// A text file of the program's own takes the place of a missing name or of
// the user's own file, is read at that name while it is still being written,
// and leaves no fresh name behind.
TEST_F(PlatformContract, TextMadeInPlaceIsWrittenAtTheName) {
  ASSERT_TRUE(write_all(NT("own"), "an earlier text that is longer\n"));
  ASSERT_EQ(make_directory(NT("dir")), 0);
  struct Row {
    const nchar *name;
    bool made;
  };
  const Row rows[] = {{NT("own"), true}, {NT("missing"), true}, {NT("dir"), false}};
  for (const Row &row : rows) {
    SCOPED_TRACE(narrow_text(row.name));
    errno = 0;
    TextStream *text = create_text_in_place(row.name);
    EXPECT_EQ(text != nullptr, row.made);
    if (text == nullptr) {
      EXPECT_NE(errno, 0);
      continue;
    }
    write_text(text, "one\n", 4);
    flush_text(text);
    EXPECT_EQ(read_lines(row.name, 260), std::vector<nstring>{NT("one\n")});
    write_text(text, "two\n", 4);
    close_text(text);
    EXPECT_EQ(read_lines(row.name, 260), (std::vector<nstring>{NT("one\n"), NT("two\n")}));
  }
  EXPECT_EQ(search_all(NT("*")).names,
            (std::vector<nstring>{NT("."), NT(".."), NT("dir"), NT("missing"), NT("own")}));
}

TEST_F(PlatformContract, FileWithoutVersionResourceHasVersionZero) {
  ASSERT_TRUE(write_all(NT("plain.txt"), "MZ not really an image"));
  for (const nchar *candidate : {NT("plain.txt"), NT("missing.exe")}) {
    uint32_t most = 7, least = 7;
    read_file_version(candidate, &most, &least);
    EXPECT_EQ(most, 0u);
    EXPECT_EQ(least, 0u);
  }
}

// Output that is no terminal gets no pager, and Windows has none: the help
// text is left to the caller, who writes it to standard output.
TEST(PlatformContractHelp, HelpTextWithoutAPagerIsLeftToTheCaller) {
  if (native_path_style == path_style_posix && !help_text_to_output())
    GTEST_SKIP() << "standard output is a terminal: the pager would take the text";
  EXPECT_FALSE(show_help_text("help\n"));
}

TEST(PlatformContractTexts, ErrorTextsAreTheRuntimeTexts) {
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
}

} // namespace
} // namespace zorov

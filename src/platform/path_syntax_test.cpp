#include "platform/path_syntax.h"

#include <gtest/gtest.h>

namespace zorov {
namespace {

const PathStyle W = path_style_windows;
const PathStyle P = path_style_posix;

TEST(PathSyntax, SeparatorsDrivesAndStreams) {
  struct Row {
    const char *path;
    PathStyle style;
    int drive;
    size_t colon;
  };
  const size_t none = std::string::npos;
  const Row rows[] = {
      {"C:\\dir\\file.txt", W, 2, none},
      {"C:\\dir\\file.txt:extra", W, 2, 15},
      {"a:b", W, 2, none},
      {"notes:old", W, 0, 5},
      {"C:", W, 2, none},
      {"", W, 0, none},
      {"\\\\?\\Z:\\dir\\a.txt:meta", W, 0, 16},
      {"\\\\?\\UNC\\host\\share\\a:b", W, 0, 20},
      {"backup-10:30.tar", P, 0, none},
      {"C:\\x", P, 0, none},
  };
  for (const Row &row : rows) {
    std::string path = row.path;
    EXPECT_EQ(drive_prefix_length(path, row.style), row.drive) << row.path;
    EXPECT_EQ(stream_colon(path, row.style), row.colon) << row.path;
    EXPECT_EQ(stream_holder(path, row.style), path.substr(0, row.colon)) << row.path;
  }
  EXPECT_TRUE(is_separator('\\', W));
  EXPECT_FALSE(is_separator('\\', P));
  EXPECT_TRUE(is_separator('/', P));
}

TEST(PathSyntax, DeviceNamespaceNames) {
  const std::pair<const char *, bool> rows[] = {
      {"\\\\.\\NUL", true},    {"//./COM1", true}, {"\\\\.\\pipe\\x", true},
      {"\\\\?\\C:\\x", false}, {"\\\\.\\", false}, {"\\\\server\\share", false},
      {"C:\\.\\x", false},
  };
  for (const auto &row : rows) {
    EXPECT_EQ(in_device_namespace(std::string(row.first), W), row.second) << row.first;
    EXPECT_FALSE(in_device_namespace(std::string(row.first), P)) << row.first;
  }
}

// Names Win32 would trim before the file system sees them reach it only in
// their verbatim form, which turns "/" into "\\".
TEST(PathSyntax, NamesWin32WouldTrimGoVerbatim) {
  struct Row {
    const char *path;
    bool trimmed;
  };
  const Row rows[] = {
      {"src\\x.", true},
      {"src/y ", true},
      {"d.\\x", true},
      {"C:\\x..\\y", true},
      {"a.txt.:meta", true},
      {"x...", true},
      {"src\\x", false},
      {".\\a\\..\\b", false},
      {"..", false},
      {"C:.", false},
      {"a.txt:meta", false},
      {"dir\\", false},
      {"\\\\?\\Z:\\x.", false},
      {"", false},
  };
  for (const Row &row : rows) {
    EXPECT_EQ(trimmed_by_win32(std::string(row.path), W), row.trimmed) << row.path;
    EXPECT_FALSE(trimmed_by_win32(std::string(row.path), P)) << row.path;
  }
  EXPECT_EQ(verbatim_form(std::string("Z:\\tmp/src\\x.")), "\\\\?\\Z:\\tmp\\src\\x.");
  EXPECT_EQ(verbatim_form(std::string("\\\\host\\share/d. ")), "\\\\?\\UNC\\host\\share\\d. ");
  EXPECT_EQ(verbatim_form(std::string("\\\\?\\Z:\\dir/a.txt")), "\\\\?\\Z:\\dir\\a.txt");
  EXPECT_TRUE(is_verbatim_name(std::string("\\\\?\\Z:\\dir"), W));
  EXPECT_FALSE(is_verbatim_name(std::string("\\\\?\\Z:\\dir"), P));
  EXPECT_FALSE(is_verbatim_name(std::string("\\\\.\\pipe"), W));
  // The "?" of the prefix is no wildcard.
  EXPECT_FALSE(has_wildcard(std::string("\\\\?\\Z:\\dir"), W));
  EXPECT_TRUE(has_wildcard(std::string("\\\\?\\Z:\\dir\\*.txt"), W));
  EXPECT_TRUE(has_wildcard(std::string("\\\\?\\Z:\\dir"), P));
}

TEST(PathSyntax, SplitIntoDriveDirectoryNameExtension) {
  struct Row {
    const char *path;
    PathStyle style;
    const char *drive, *directory, *name, *extension;
  };
  const Row rows[] = {
      {"C:\\work\\report.txt", W, "C:", "\\work\\", "report", ".txt"},
      {"C:\\work\\data.tar.gz", W, "C:", "\\work\\", "data.tar", ".gz"},
      {"C:\\work\\README", W, "C:", "\\work\\", "README", ""},
      {"C:/a\\b/c", W, "C:", "/a\\b/", "c", ""},
      {"C:\\x\\new\\", W, "C:", "\\x\\new\\", "", ""},
      {"rel.dir\\name", W, "", "rel.dir\\", "name", ""},
      {"/home/u/a.b\\c.d", P, "", "/home/u/", "a.b\\c", ".d"},
      {"/", P, "", "/", "", ""},
      {"C:x.txt", P, "", "", "C:x", ".txt"},
  };
  for (const Row &row : rows) {
    PathParts<char> parts = split_path(std::string(row.path), row.style);
    EXPECT_EQ(parts.drive, row.drive) << row.path;
    EXPECT_EQ(parts.directory, row.directory) << row.path;
    EXPECT_EQ(parts.name, row.name) << row.path;
    EXPECT_EQ(parts.extension, row.extension) << row.path;
  }
}

TEST(PathSyntax, FileNamePartAndJoin) {
  EXPECT_EQ(file_name_part(std::string("C:\\src\\a.txt"), W), "a.txt");
  EXPECT_EQ(file_name_part(std::string("C:a.txt"), W), "a.txt");
  EXPECT_EQ(file_name_part(std::string("dir/x:y"), W), "y");
  EXPECT_EQ(file_name_part(std::string("dir/x:y"), P), "x:y");
  EXPECT_EQ(file_name_part(std::string("dir\\x"), P), "dir\\x");
  EXPECT_EQ(file_name_part(std::string("plain"), P), "plain");
  EXPECT_EQ(join_path(std::string("C:\\t"), std::string("a"), W), "C:\\t/a");
  EXPECT_EQ(join_path(std::string("C:\\t\\"), std::string("a"), W), "C:\\t\\a");
  EXPECT_EQ(join_path(std::string("/t\\"), std::string("a"), P), "/t\\/a");
  EXPECT_EQ(join_path(std::string("/"), std::string("a"), P), "/a");
  // A bare drive is its current directory; on POSIX "Q:" is a plain name.
  EXPECT_EQ(join_path(std::string("Q:"), std::string("*.*"), W), "Q:*.*");
  EXPECT_EQ(join_path(std::string("Q:"), std::string("a"), P), "Q:/a");
  EXPECT_EQ(join_path(std::string("Q:."), std::string("a"), W), "Q:./a");
}

TEST(PathSyntax, ATrailingSeparatorGoesButNotFromARoot) {
  // What is left by each rule: a root keeps its separator; a drive root goes
  // bare; names of one or two characters and a drive root keep theirs.
  const struct {
    const char *path;
    PathStyle style;
    const char *root_kept, *bare_drive, *short_kept;
  } rows[] = {
      {"/t/", P, "/t", "/t", "/t"},
      {"/", P, "/", "/", "/"},
      {"//", P, "/", "/", "//"},
      {"t/", P, "t", "t", "t/"},
      {"ab/", P, "ab", "ab", "ab"},
      {"Q:/", P, "Q:", "Q:", "Q:/"},
      {"t\\", P, "t\\", "t\\", "t\\"},
      {"C:\\t\\", W, "C:\\t", "C:\\t", "C:\\t"},
      {"C:\\", W, "C:\\", "C:", "C:\\"},
      {"C:/", W, "C:/", "C:", "C:/"},
      {"C:", W, "C:", "C:", "C:"},
      {"\\", W, "\\", "\\", "\\"},
      {"t/", W, "t", "t", "t/"},
      {"ab\\", W, "ab", "ab", "ab"},
      {"\\\\?\\C:\\", W, "\\\\?\\C:", "\\\\?\\C:", "\\\\?\\C:"},
  };
  for (const auto &row : rows) {
    std::string root_kept = row.path, bare_drive = row.path, short_kept = row.path;
    drop_trailing_separator(&root_kept, row.style);
    drop_trailing_separator_to_bare_drive(&bare_drive, row.style);
    drop_trailing_separator_keeping_short_names(&short_kept, row.style);
    EXPECT_EQ(root_kept, row.root_kept) << row.path;
    EXPECT_EQ(bare_drive, row.bare_drive) << row.path;
    EXPECT_EQ(short_kept, row.short_kept) << row.path;
  }
}

// The questions the rest of the program asks in place of which platform it
// runs on.
TEST(PathSyntax, EachStyleAnswersForItsPlatform) {
  struct Row {
    PathStyle style;
    char separator;
    bool slash_flags, streams, ignore_case;
  };
  const Row rows[] = {{W, '\\', true, true, true}, {P, '/', false, false, false}};
  for (const Row &row : rows) {
    EXPECT_EQ(preferred_separator<char>(row.style), row.separator);
    EXPECT_EQ(preferred_separator<wchar_t>(row.style), wchar_t(row.separator));
    EXPECT_EQ(slash_begins_flags(row.style), row.slash_flags);
    EXPECT_EQ(names_have_streams(row.style), row.streams);
    EXPECT_EQ(names_ignore_case(row.style), row.ignore_case);
  }
}

TEST(PathSyntax, AsciiCapitalsAndPathBuffers) {
  const char *const small = "az`{@1\xe9\xff";
  const char *const capital = "AZ`{@1\xe9\xff";
  for (size_t i = 0; small[i]; ++i) {
    EXPECT_EQ(ascii_upper(small[i]), capital[i]) << i;
    EXPECT_EQ(ascii_upper(capital[i]), capital[i]) << i;
  }
  EXPECT_EQ(ascii_upper(L'\u00e9'), L'\u00e9');
  EXPECT_EQ(ascii_upper(L'q'), L'Q');
  EXPECT_TRUE(fits_path_buffer(size_t(kPathMax)));
  EXPECT_FALSE(fits_path_buffer(size_t(kPathMax) + 1));
  EXPECT_TRUE(fits_path_buffer(nstring(size_t(kPathMax), NT('x'))));
  EXPECT_FALSE(fits_path_buffer(nstring(size_t(kPathCapacity), NT('x')).c_str()));
  EXPECT_EQ(size_t(kPathMax), whole_name_limit(native_path_style));
}

// A name the program makes keeps its form where it fits, and is otherwise
// cut in its stem, whole characters at a time, to the component's or the
// whole name's limit, and marked as the user's name's own.
TEST(PathSyntax, NamesOfTheProgramFitWhereTheUsersNameFits) {
  const std::string cjk = "\xe4\xb8\xad"; // three bytes in UTF-8
  std::string cjk85;
  for (int i = 0; i < 85; ++i)
    cjk85 += cjk;
  const std::string a250(250, 'a');
  const std::string directory = "/d/" + std::string(4066, 'd') + "/"; // 4070 bytes
  struct Row {
    const char *name;
    std::string directory, stem, added, tail;
    size_t kept;    // units of the stem (and tail) kept; npos: the name as it is
    bool tail_kept; // the tail stays after the added text
  } rows[] = {
      {"fits", "/d/", "report.txt", "_123", "", std::string::npos, true},
      {"a 250-byte name", "/d/", a250, "_1234567890", "", 235, true},
      {"85 CJK characters", "", cjk85, "_1234567", "", 237, true}, // 79 characters
      {"a generation", "", a250, ".(-01)", ".txt", 236, true},
      {"an extension with no room", "", "a", ".(-01)", "." + a250, 240, false},
      {"the whole name", directory, std::string(30, 'f'), "_123", "", 12, true},
      {"no room at all", directory + std::string(20, 'f'), "ef", "_1234", "", std::string::npos,
       true},
      {"bytes that begin no character", "", std::string(255, '\x80'), "_1", "", 241, true},
  };
  for (const Row &row : rows) {
    std::string made = fitted_name(row.directory, row.stem, row.added, row.tail, P);
    std::string whole = row.stem + row.tail;
    if (row.kept == std::string::npos) {
      EXPECT_EQ(row.directory + whole.substr(0, row.stem.size()) + row.added + row.tail, made)
          << row.name;
      continue;
    }
    std::string end = row.added + (row.tail_kept ? row.tail : "");
    EXPECT_EQ(row.directory + whole.substr(0, row.kept) + name_mark(whole) + end, made) << row.name;
  }
  // The mark tells apart names that begin alike, and is the same every time.
  EXPECT_NE(fitted_name(std::string(), a250 + "x", std::string(".(-01)"), std::string(".txt"), P),
            fitted_name(std::string(), a250 + "y", std::string(".(-01)"), std::string(".txt"), P));
  EXPECT_EQ(std::string("~811c9dc5"), name_mark(std::string()));

  // Windows counts UTF-16 units, and its whole names are much shorter.
  const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
  std::wstring pairs;
  for (int i = 0; i < 127; ++i)
    pairs += pair;
  EXPECT_EQ(pairs.substr(0, 244) + name_mark(pairs) + L"_1",
            fitted_name(std::wstring(), pairs, std::wstring(L"_1"), std::wstring(), W));
  const std::wstring deep = L"C:\\" + std::wstring(230, L'd') + L"\\"; // 234 units
  const std::wstring name = L"a_report_with_a_long_name", report = name + L".txt";
  EXPECT_EQ(deep + report.substr(0, 7) + name_mark(report) + L"_91234567",
            fitted_name(deep, report, std::wstring(L"_91234567"), std::wstring(), W));
  EXPECT_EQ(deep + name.substr(0, 6) + name_mark(report) + L".(-01).txt",
            fitted_name(deep, name, std::wstring(L".(-01)"), std::wstring(L".txt"), W));
}

} // namespace
} // namespace zorov

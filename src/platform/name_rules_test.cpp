#include "platform/name_rules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace zorov {
namespace {

const PathStyle W = path_style_windows;
const PathStyle P = path_style_posix;

TEST(NameRules, ResolutionFoldsTextually) {
  struct Row {
    const char *current, *name;
    PathStyle style;
    const char *full;
  };
  const Row rows[] = {
      {"/home/u", "a.txt", P, "/home/u/a.txt"},
      {"/home/u", "", P, "/home/u"},
      {"/home/u", ".", P, "/home/u"},
      {"/home/u", "..", P, "/home"},
      {"/home/u", "../../..", P, "/"},
      {"/home/u", "x//y/./z/", P, "/home/u/x/y/z/"},
      {"/home/u", "/abs/../b", P, "/b"},
      {"/", "t/", P, "/t/"},
      {"/home/u", "sub/..", P, "/home/u"},
      {"/home/u", "a\\b:c", P, "/home/u/a\\b:c"},
      {"/home/u", "C:x", P, "/home/u/C:x"},
      {"/", "/", P, "/"},
      {"C:\\work", "", W, "C:\\work"},
      {"C:\\work", "a/./b/../c", W, "C:\\work\\a\\c"},
      {"C:\\work", "a//b/", W, "C:\\work\\a\\b\\"},
      {"C:\\work", "..\\..\\..", W, "C:\\"},
      {"C:\\", "x", W, "C:\\x"},
      // A drive alone, or with a relative name, is that drive's current
      // directory (spelled as it was set); another drive's is its root.
      {"C:\\work", "C:", W, "C:\\work"},
      {"C:\\work", "c:.", W, "C:\\work"},
      {"C:\\work", "C:sub", W, "C:\\work\\sub"},
      {"C:\\work", "D:sub", W, "D:\\sub"},
      {"C:\\work", "D:/a/../b/", W, "D:\\b\\"},
      {"C:\\work", "\\top", W, "C:\\top"},
  };
  for (const Row &row : rows)
    EXPECT_EQ(resolve_by_text(std::string(row.current), std::string(row.name), row.style), row.full)
        << row.current << " + " << row.name;
}

TEST(NameRules, PatternsMatchAndNamesAreListedInOrder) {
  struct Row {
    const char *pattern, *name;
    PathStyle style;
    bool matches;
  };
  const Row rows[] = {
      {"*.*", "noext", P, true},      {"*.txt", ".h.txt", P, true}, {"?.txt", "ab.txt", P, false},
      {"a?c", "abc", P, true},        {"a?c", "ac", P, false},      {"a*b*c", "aXbYbZc", P, true},
      {"*a", "ab", P, false},         {"*", "", P, true},           {"A.TXT", "a.txt", P, false},
      {"A.TXT", "a.txt", W, true},    {"b2.*", "B2.txt", W, true},  {"\xe9", "\xc9", W, false},
      {"a*.dat", "ab.txt", W, false},
  };
  for (const Row &row : rows)
    EXPECT_EQ(pattern_matches(row.pattern, row.name, row.style), row.matches)
        << row.pattern << " " << row.name;

  struct Order {
    const char *first, *second;
    PathStyle style;
    bool before;
  };
  const Order orders[] = {
      {"B2.txt", "a.txt", P, true}, {"B2.txt", "a.txt", W, false}, {"b.txt", "B2.txt", W, true},
      {"_x", "a", P, true},         {"_x", "a", W, false},
  };
  for (const Order &order : orders)
    EXPECT_EQ(listed_before(std::string(order.first), std::string(order.second), order.style),
              order.before)
        << order.first << " " << order.second;
}

TEST(NameRules, DotNamesAreHiddenOnPosixOnly) {
  struct Row {
    const char *name;
    PathStyle style;
    bool hidden;
  };
  const Row rows[] = {{".profile", P, true}, {"..x", P, true}, {".", P, false},
                      {"..", P, false},      {"a.", P, false}, {".profile", W, false}};
  for (const Row &row : rows)
    EXPECT_EQ(hidden_by_name(std::string(row.name), row.style), row.hidden) << row.name;
}

const std::map<std::string, nstring> *environment = nullptr;

bool lookup(const char *name, nstring *value) {
  auto found = environment->find(name);
  if (found == environment->end())
    return false;
  *value = found->second;
  return true;
}

TEST(NameRules, TemporaryDirectoryComesFromTheEnvironment) {
  struct Row {
    std::map<std::string, nstring> variables;
    PathStyle style;
    nstring directory;
  };
  const Row rows[] = {
      {{{"TMP", NT("t")}, {"TEMP", NT("e")}}, W, NT("t")},
      {{{"temp", NT("e")}, {"TMPDIR", NT("d")}}, W, NT("e")},
      {{{"TMP", NT("")}, {"TEMP", NT("e")}}, W, NT("e")},
      {{{"TMPDIR", NT("d")}}, W, NT("windows")},
      {{{"tmp", NT("a")}, {"TEMP", NT("e")}}, P, NT("a")},
      {{{"TMPDIR", NT("d")}}, P, NT("d")},
      {{{"TMP", NT("")}, {"TMPDIR", NT("")}}, P, NT("/tmp")},
  };
  for (const Row &row : rows) {
    environment = &row.variables;
    EXPECT_EQ(temporary_directory(row.style, lookup, NT("windows")), row.directory);
  }
}

} // namespace
} // namespace zorov

// The whole-run fault sweep. Each copy scenario runs once without faults to
// count the platform calls it makes; then it runs again for every call N of
// every operation, call N failing with each error such a call can meet.
// After every run the promises that matter when something goes wrong are
// checked: a file not copied whole never ends with exit code 0, a source is
// deleted only after its whole copy, a safe overwrite leaves the old or the
// whole new content, nothing that existed is lost or changed, nothing is
// left behind unannounced, and the output names the file that failed.
#include "support/run_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zorov {
namespace {

using testing_support::full_name;
using testing_support::run_program;

struct FaultKind {
  fake::Operation operation;
  const char *name;
  std::vector<int> errors;
};

// The errors each operation can meet.
const std::vector<FaultKind> &fault_kinds() {
  static const std::vector<FaultKind> kinds = {
      {fake::op_open, "open", {EIO, ENOSPC, EACCES, ENOENT}},
      {fake::op_read, "read", {EIO}},
      {fake::op_write, "write", {EIO, ENOSPC}},
      {fake::op_seek, "seek", {EIO}},
      {fake::op_length, "length", {EIO}},
      {fake::op_close, "close", {EIO, ENOSPC}},
      {fake::op_status, "status", {EIO, EACCES}},
      {fake::op_remove, "remove", {EIO, EACCES}},
      {fake::op_rename, "rename", {EIO, ENOSPC, EACCES}},
      {fake::op_make_directory, "make directory", {EIO, ENOSPC, EACCES}},
      {fake::op_make_writable, "make writable", {EIO, EACCES}},
      {fake::op_set_times, "set times", {EIO, EACCES}},
      {fake::op_open_text, "open text", {EIO, ENOSPC, EACCES, ENOENT}},
      {fake::op_search, "search", {EIO, EACCES}},
      {fake::op_resolve, "resolve", {EIO}},
      {fake::op_stream_length, "stream length", {EIO, EACCES, ENOENT}},
      {fake::op_attributes, "attributes", {EIO, EACCES}},
      {fake::op_platform_copy, "platform copy", {EIO, ENOSPC, EACCES, ENOENT}},
      {fake::op_search_next, "search next", {EIO}},
      {fake::op_extent, "extent", {EIO}},
      {fake::op_write_text, "write text", {EIO, ENOSPC}},
      {fake::op_flush_text, "flush text", {EIO, ENOSPC}},
      {fake::op_read_text, "read text", {EIO}},
  };
  return kinds;
}

// Contents that span several blocks and rounds of a small pool.
std::string pattern_text(size_t size, char first) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i)
    text[i] = char(first + char(i % 23));
  return text;
}

const std::string &alpha() {
  static const std::string text = pattern_text(140000, 'a');
  return text;
}
const std::string &bravo() {
  static const std::string text = pattern_text(3000, 'A');
  return text;
}
const std::string kOld = "the destination before the run\n";

struct Copy {
  nstring source;
  nstring destination;
  std::string whole; // the destination after a whole copy
  bool safe;         // under -os: the old content or the whole new one
  bool moved;        // under -m: the source goes only after a whole copy
};

struct Scenario {
  const char *name;
  std::vector<nstring> arguments; // after the program's name
  std::function<void()> prepare;
  std::vector<Copy> copies;
  // Names the run may make or change besides the destinations: created
  // directories, generations, logs.
  std::vector<nstring> products;
  // Contents that must survive the run somewhere: the backups of -a.
  std::vector<std::string> kept = {};
};

void sources() {
  fake::add_file(NT("src/a.txt"), alpha(), 1000);
  fake::add_file(NT("src/b.txt"), bravo(), 1000);
  fake::add_directory(NT("dst"));
}

void sources_and_destination() {
  sources();
  fake::add_file(NT("dst/a.txt"), kOld, 500);
}

Copy copy_of_a(const nstring &destination) {
  return {NT("src/a.txt"), destination, alpha(), false, false};
}

std::vector<Scenario> scenarios() {
  std::vector<Scenario> all;
  all.push_back({"copy onto a new name",
                 {NT("src/a.txt"), NT("dst/new.txt")},
                 sources,
                 {copy_of_a(NT("dst/new.txt"))},
                 {}});
  all.push_back({"copy onto an existing file",
                 {NT("src/a.txt"), NT("dst")},
                 sources_and_destination,
                 {copy_of_a(NT("dst/a.txt"))},
                 {}});
  Copy safe = copy_of_a(NT("dst/a.txt"));
  safe.safe = true;
  all.push_back(
      {"-os", {NT("-os"), NT("src/a.txt"), NT("dst")}, sources_and_destination, {safe}, {}});
  all.push_back({"-f -os",
                 {NT("-f"), NT("-os"), NT("src/a.txt"), NT("dst")},
                 sources_and_destination,
                 {safe},
                 {}});
  Copy appended = copy_of_a(NT("dst/a.txt"));
  appended.whole = kOld + alpha();
  all.push_back(
      {"-e", {NT("-e"), NT("src/a.txt"), NT("dst")}, sources_and_destination, {appended}, {}});
  all.push_back({"-p",
                 {NT("-p"), NT("src/a.txt"), NT("dst/new.txt")},
                 sources,
                 {copy_of_a(NT("dst/new.txt"))},
                 {}});
  all.push_back({"-pr",
                 {NT("-pr"), NT("src/a.txt"), NT("dst")},
                 [] {
                   sources();
                   fake::add_file(NT("dst/a.txt"), alpha().substr(0, 70000), 500);
                 },
                 {copy_of_a(NT("dst/a.txt"))},
                 {}});
  all.push_back({"-a -g3",
                 {NT("-a"), NT("-g3"), NT("src/a.txt"), NT("dst")},
                 [] {
                   sources_and_destination();
                   fake::add_file(NT("dst/a.(-01).txt"), "generation 1\n", 400);
                 },
                 {copy_of_a(NT("dst/a.txt"))},
                 {NT("dst/a.(-01).txt"), NT("dst/a.(-02).txt")},
                 {kOld, "generation 1\n"}});
  all.push_back({"-m",
                 {NT("-m"), NT("src/a.txt"), NT("src/b.txt"), NT("dst")},
                 sources,
                 {{NT("src/a.txt"), NT("dst/a.txt"), alpha(), false, true},
                  {NT("src/b.txt"), NT("dst/b.txt"), bravo(), false, true}},
                 {}});
  // A device holds nothing of what is written to it: the source stays.
  all.push_back({"-m onto a device",
                 {NT("-m"), NT("src/a.txt"), NT("dst/null")},
                 [] {
                   sources();
                   fake::add_special(NT("dst/null"), false);
                 },
                 {{NT("src/a.txt"), NT("dst/null"), alpha(), false, true}},
                 {}});
  all.push_back({"-f",
                 {NT("-f"), NT("src/a.txt"), NT("dst")},
                 sources_and_destination,
                 {copy_of_a(NT("dst/a.txt"))},
                 {}});
  all.push_back({"a tree with -s",
                 {NT("-s"), NT("src"), NT("out/")},
                 [] {
                   sources();
                   fake::add_file(NT("src/sub/c.txt"), "charlie\n", 1000);
                   fake::add_file(NT("src/sub/deep/d.txt"), bravo(), 1000);
                 },
                 {{NT("src/a.txt"), NT("out/a.txt"), alpha(), false, false},
                  {NT("src/b.txt"), NT("out/b.txt"), bravo(), false, false},
                  {NT("src/sub/c.txt"), NT("out/sub/c.txt"), "charlie\n", false, false},
                  {NT("src/sub/deep/d.txt"), NT("out/sub/deep/d.txt"), bravo(), false, false}},
                 {NT("out"), NT("out/sub"), NT("out/sub/deep")}});
  all.push_back(
      {"-L logging",
       {NT("-Llog/run.log"), NT("src/a.txt"), NT("src/b.txt"), NT("dst")},
       [] {
         sources();
         fake::add_directory(NT("log"));
       },
       {copy_of_a(NT("dst/a.txt")), {NT("src/b.txt"), NT("dst/b.txt"), bravo(), false, false}},
       {NT("log/run.log"), NT("log/run.log.fil")}});
  return all;
}

typedef std::map<nstring, std::string> Snapshot; // full name -> content

Snapshot take_snapshot() {
  Snapshot files;
  for (const nstring &name : fake::names())
    files[name] = fake::is_directory(name) ? std::string("<directory>") : fake::content(name);
  return files;
}

int run_once(const Scenario &scenario, const FaultKind *fault, int nth, int error_number,
             Snapshot *before) {
  fake::reset();
  scenario.prepare();
  *before = take_snapshot();
  if (fault)
    fake::fail_call(fault->operation, nth, error_number);
  std::vector<nstring> arguments = {NT("zorov")};
  arguments.insert(arguments.end(), scenario.arguments.begin(), scenario.arguments.end());
  int code = run_program(arguments);
  fake::clear_faults();
  return code;
}

// The spellings under which the output may name a file: as given, with
// backslashes, and made absolute.
std::vector<std::string> spellings(const nstring &name) {
  std::string relative = narrow_text(name.c_str());
  std::string backslashed = relative;
  for (char &c : backslashed)
    if (c == '/')
      c = '\\';
  return {relative, backslashed, narrow_text(full_name(name).c_str())};
}

bool output_names(const std::string &output, const nstring &name) {
  for (const std::string &spelling : spellings(name))
    if (output.find(spelling) != std::string::npos)
      return true;
  return false;
}

// A directory is named when its name isn't merely the start of a longer one.
bool output_names_directory(const std::string &output, const nstring &name) {
  for (const std::string &spelling : spellings(name)) {
    for (size_t at = output.find(spelling); at != std::string::npos;
         at = output.find(spelling, at + 1)) {
      size_t end = at + spelling.size();
      if (end < output.size() && (output[end] == '/' || output[end] == '\\'))
        ++end; // a trailing separator, as the name was typed
      if (end == output.size() || std::strchr(":. \n", output[end]))
        return true;
    }
  }
  return false;
}

// A copy that failed is named by its source or destination, or by the
// directory of the destination that could not be made or used.
bool output_names_failure(const std::string &output, const Copy &copy) {
  if (output_names(output, copy.source) || output_names(output, copy.destination))
    return true;
  nstring directory = copy.destination;
  for (size_t cut = directory.rfind(NT('/')); cut != nstring::npos && cut > 0;
       cut = directory.rfind(NT('/'))) {
    directory.resize(cut);
    if (output_names_directory(output, directory))
      return true;
  }
  return false;
}

bool whole_copy(const Copy &copy) {
  return fake::exists(copy.destination) && !fake::is_directory(copy.destination) &&
         fake::content(copy.destination) == copy.whole;
}

class Checker {
public:
  Checker(const Scenario &scenario, const Snapshot &before, int code)
      : scenario_(scenario), before_(before), code_(code),
        output_(fake::console_output() + fake::console_error()) {}

  std::vector<std::string> problems() {
    check_copies();
    check_what_existed();
    check_new_names();
    check_kept_contents();
    if (fake::open_descriptor_count() != 0 || fake::open_search_count() != 0)
      problems_.push_back("a descriptor or directory search was left open");
    return problems_;
  }

private:
  void check_copies() {
    bool all_whole = true;
    for (const Copy &copy : scenario_.copies) {
      bool whole = whole_copy(copy);
      all_whole = all_whole && whole;
      std::string shown = narrow_text(copy.source.c_str());
      if (!whole && !output_names_failure(output_, copy))
        problems_.push_back("the output does not name " + shown + ", which was not copied whole");
      if (copy.moved && !whole && !fake::exists(copy.source))
        problems_.push_back(shown + " was deleted without a whole copy");
      auto old = before_.find(full_name(copy.destination));
      if (copy.safe && !whole && old != before_.end() &&
          fake::content(copy.destination) != old->second)
        problems_.push_back("the safe overwrite left neither the old nor the new content");
    }
    if (!all_whole && code_ == 0)
      problems_.push_back("exit code 0 though a file was not copied whole");
  }

  bool is_destination_or_product(const nstring &full) const {
    for (const Copy &copy : scenario_.copies)
      if (full == full_name(copy.destination))
        return true;
    for (const nstring &product : scenario_.products)
      if (full == full_name(product))
        return true;
    return false;
  }

  bool moved_whole(const nstring &full) const {
    for (const Copy &copy : scenario_.copies)
      if (copy.moved && full == full_name(copy.source) && whole_copy(copy))
        return true;
    return false;
  }

  // Whatever existed before and is neither written by the run nor a moved
  // source is still there, unchanged.
  void check_what_existed() {
    for (const auto &item : before_) {
      if (is_destination_or_product(item.first) || moved_whole(item.first))
        continue;
      std::string shown = narrow_text(item.first.c_str());
      if (!fake::exists(item.first))
        problems_.push_back(shown + " was deleted");
      else if (!fake::is_directory(item.first) && fake::content(item.first) != item.second)
        problems_.push_back(shown + " was changed");
    }
  }

  // A name the run made besides its products (a temporary file) may stay
  // only when the output says so.
  void check_new_names() {
    for (const nstring &name : fake::names()) {
      if (before_.count(name) || is_destination_or_product(name))
        continue;
      if (!output_names(output_, name))
        problems_.push_back(narrow_text(name.c_str()) + " was left behind without a word");
    }
  }

  void check_kept_contents() {
    Snapshot after = take_snapshot();
    for (const std::string &content : scenario_.kept) {
      bool found = false;
      for (const auto &item : after)
        found = found || item.second == content;
      if (!found)
        problems_.push_back("the content \"" + content.substr(0, 20) + "\" is lost");
    }
  }

  const Scenario &scenario_;
  const Snapshot &before_;
  int code_;
  std::string output_;
  std::vector<std::string> problems_;
};

std::string describe(const Scenario &scenario, const FaultKind *fault, int nth, int error_number) {
  char text[160];
  if (fault)
    std::snprintf(text, sizeof text, "%s, %s call %d fails with %s", scenario.name, fault->name,
                  nth, std::strerror(error_number));
  else
    std::snprintf(text, sizeof text, "%s, no fault", scenario.name);
  return text;
}

// A new operation of the in-memory platform joins the sweep with its errors.
TEST(FaultSweep, EveryOperationHasItsErrors) {
  for (int op = 0; op < fake::op_operation_count; ++op) {
    bool listed = op == fake::op_allocate; // memory, not the file system
    for (const FaultKind &fault : fault_kinds())
      listed = listed || fault.operation == op;
    EXPECT_TRUE(listed) << "operation " << op << " is not swept";
  }
}

TEST(FaultSweep, EveryFailingCallOfEveryScenarioKeepsThePromises) {
  int runs = 0;
  std::vector<std::string> violations;
  std::vector<Scenario> all = scenarios();
  for (const Scenario &scenario : all) {
    Snapshot before;
    int code = run_once(scenario, nullptr, 0, 0, &before);
    ++runs;
    for (const std::string &problem : Checker(scenario, before, code).problems())
      violations.push_back(describe(scenario, nullptr, 0, 0) + ": " + problem);
    int counts[fake::op_operation_count];
    for (int op = 0; op < fake::op_operation_count; ++op)
      counts[op] = fake::call_count(fake::Operation(op));
    for (const FaultKind &fault : fault_kinds()) {
      for (int nth = 1; nth <= counts[fault.operation]; ++nth) {
        for (int error_number : fault.errors) {
          code = run_once(scenario, &fault, nth, error_number, &before);
          ++runs;
          for (const std::string &problem : Checker(scenario, before, code).problems())
            violations.push_back(describe(scenario, &fault, nth, error_number) + ": " + problem +
                                 " (exit code " + std::to_string(code) + ")");
        }
      }
    }
  }
  for (size_t i = 0; i < violations.size() && i < 40; ++i)
    ADD_FAILURE() << violations[i];
  std::printf("fault sweep: %d runs of %d scenarios, %d violations\n", runs, int(all.size()),
              int(violations.size()));
  EXPECT_TRUE(violations.empty());
}

} // namespace
} // namespace zorov

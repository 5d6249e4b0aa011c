// Fuzz target: whole argument vectors, NUL-separated in the input, run
// through the flag parser, the operand split and the whole run against the
// in-memory platform holding a few files, lists and directories. Besides the
// sanitizers it checks that the run ends with an exit code of the program
// and leaves no descriptor or directory search open.
#include "naming/exclusion.h"
#include "support/run_test_support.h"
#include "support/test_settings.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace zorov;

const size_t kMostArguments = 24;

void make_files() {
  fake::reset();
  fake::add_file(NT("a.txt"), "alpha\n", 1000);
  fake::add_file(NT("b.txt"), std::string(70000, 'b'), 2000);
  fake::add_file(NT("dir/c.txt"), "charlie", 3000);
  fake::add_file(NT("dir/sub/d.txt"), "delta", 3000);
  fake::add_file(NT(".hidden"), "hidden", 3000);
  fake::add_file(NT("list"), "a.txt\nb.txt\n\n@list\n*.txt\n", 3000);
  fake::add_file(NT("targets"), "out1/\nout2\n", 3000);
  fake::add_file(NT("dest/a.txt"), "old", 500);
  fake::add_file(NT("dest/a.(-01).txt"), "older", 400);
  fake::add_file(NT("readonly.txt"), "kept", 500, true);
  // A small disk: operands repeated many times (a tree archived onto itself
  // doubles its files with every pass) fill it instead of running for hours.
  fake::set_entry_limit(64);
  fake::set_free_space(1 << 20);
  // Many operands naming one tree archived onto itself make work that grows
  // with every pass; past this many calls every call fails and the run
  // winds down through its error paths, which are checked all the same.
  fake::set_call_budget(10000);
}

std::vector<nstring> arguments_of(const uint8_t *data, size_t size) {
  std::vector<nstring> arguments{NT("zorov")};
  nstring current;
  for (size_t i = 0; i < size && arguments.size() < kMostArguments; ++i) {
    if (data[i] == 0) {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(nchar(data[i]));
    }
  }
  if (!current.empty() && arguments.size() < kMostArguments)
    arguments.push_back(current);
  return arguments;
}

bool known_exit_code(int code) {
  return code == 0 || code == 1 || code == 8 || code == 9 || code == 12;
}

// A run that ends early keeps its logs open, as the program does; the next
// input starts from nothing.
void let_go_of_run() {
  close_text(log_file);
  close_text(copied_list);
  log_file = nullptr;
  copied_list = nullptr;
  release_test_exclusions();
}

void fail(const char *what, int code) {
  std::fprintf(stderr, "arguments fuzz target: %s (exit code %d)\n", what, code);
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  make_files();
  int code = testing_support::run_program(arguments_of(data, size));
  if (!known_exit_code(code))
    fail("an exit code the program never gives", code);
  if (fake::open_descriptor_count() != 0)
    fail("a descriptor left open", code);
  if (fake::open_search_count() != 0)
    fail("a directory search left open", code);
  if (code != 8 && fake::allocated_blocks() != 0)
    fail("buffer memory not given back", code);
  let_go_of_run();
  return 0;
}

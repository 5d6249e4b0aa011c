// The run's settings as tests set a run up: the one place tests write them.
#pragma once

#include "cli/base/options.h"
#include "cli/flags.h"
#include "naming/exclusion.h"

namespace zorov {

// The record the program reads, for a test to set.
inline CopyOptions &test_settings() { return options_to_fill(); }

// The settings as at program start, the exclusion list given back.
inline void reset_test_settings() {
  release_exclusion_list(options.exclusions);
  test_settings() = CopyOptions();
}

// No exclusion list, its memory given back.
inline void release_test_exclusions() {
  release_exclusion_list(options.exclusions);
  test_settings().exclusions = nullptr;
}

// The exclusion list of the -x text `text`, in place of an earlier one.
inline void use_test_exclusions(const nchar *text) {
  ExclusionNode *list = build_exclusion_list(text);
  release_exclusion_list(options.exclusions);
  test_settings().exclusions = list;
}

} // namespace zorov

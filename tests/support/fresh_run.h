// The state every test that touches the run starts from: an empty in-memory
// platform, no log open, and the settings and the progress state as at
// program start.
#pragma once

#include "cli/base/messages.h"
#include "progress/progress.h"
#include "support/platform_fake.h"
#include "support/test_settings.h"

#include <gtest/gtest.h>

namespace zorov {
namespace testing_support {

// Puts every run-wide record back to its state at program start; the
// in-memory platform stays as it is.
inline void reset_run_state() {
  close_logs();
  reset_test_settings();
  reset_progress();
}

class FreshRun : public ::testing::Test {
protected:
  void SetUp() override {
    // The logs a failed test left open are closed while the in-memory files
    // they write still exist.
    close_logs();
    fake::reset();
    reset_run_state();
  }
  void TearDown() override {
    close_logs();
    reset_test_settings();
  }
};

} // namespace testing_support
} // namespace zorov

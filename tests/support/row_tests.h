// A table's rows as tests of their own: each row runs in a fresh fixture,
// set up and torn down as any test is, and fails under its own name.
#pragma once

#include <gtest/gtest.h>

namespace zorov {
namespace testing_support {

template <class Fixture, class Row>
class RowTest : public Fixture, public ::testing::WithParamInterface<Row> {};

} // namespace testing_support
} // namespace zorov

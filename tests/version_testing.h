// Helpers shared by the library's tests.
#pragma once

#include <gtest/gtest.h>

#include <string_view>

#include <quorbel/version.h>

namespace quorbel::testing {

// The record parsed from a text the test knows to be valid.
inline version_record parsed(std::string_view text) {
  version_record record;
  EXPECT_EQ(version_parse(text, &record), 0) << text;
  return record;
}

}  // namespace quorbel::testing

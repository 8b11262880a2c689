#include "transfer/hand_entry.h"

#include <gtest/gtest.h>

#include <utility>

namespace brevinmarquest {
namespace {

TEST(EntryValue, ConvertsLikeADecimalIntegerWithAnOptionalSign) {
  const std::pair<const char*, int> cases[] = {
      {"0", 0},  {"255", 255}, {"256", 256}, {"-1", -1}, {"-0", 0},
      {"+7", 7}, {"x", 0},     {"A", 0},     {"q", 0},   {"12x", 12},
      {"", 0},   {"-", 0},     {"+-3", 0},   {"007", 7}, {"199", 199},
  };
  for (const auto& [entry, value] : cases) EXPECT_EQ(entry_value(entry), value) << entry;
}

}  // namespace
}  // namespace brevinmarquest

#include "transfer/hand_entry.h"

#include <gtest/gtest.h>

#include <utility>

namespace brevinmarquest {
namespace {

// No digits convert to 0 in the dialogue, which then says so.
TEST(EntryValue, ConvertsLikeADecimalIntegerWithAnOptionalSign) {
  constexpr auto none = std::nullopt;
  const std::pair<const char*, std::optional<int>> cases[] = {
      {"0", 0},   {"255", 255}, {"256", 256},  {"-1", -1},  {"-0", 0},
      {"+7", 7},  {"x", none},  {"A", none},   {"q", none}, {"12x", 12},
      {"", none}, {"-", none},  {"+-3", none}, {"007", 7},  {"199", 199},
  };
  for (const auto& [entry, value] : cases) EXPECT_EQ(entry_value(entry), value) << entry;
}

}  // namespace
}  // namespace brevinmarquest

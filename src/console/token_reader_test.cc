#include "console/token_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "in_memory_session.h"

namespace brevinmarquest {
namespace {

using testing::file_of;

// Reads tokens until the input ends, naming each: the text itself, or <too long>. The buffer
// must hold the text zero-terminated, and an empty string after a failed read.
std::vector<std::string> tokens_of(const std::string& bytes, std::size_t capacity) {
  const file_ptr input = file_of(bytes);
  std::vector<char> buffer(capacity);
  std::vector<std::string> seen;
  for (;;) {
    std::fill(buffer.begin(), buffer.end(), '#');
    const token t = read_token(input.get(), buffer.data(), capacity);
    if (t.status == token_status::end_of_input) return seen;
    const bool read = t.status == token_status::read;
    std::string name = read ? std::string(t.text) : "<too long>";
    if (buffer[read ? t.text.size() : 0] != '\0') name = "<unterminated>";
    seen.push_back(name);
  }
}

TEST(ReadToken, SplitsOnEveryKindOfWhiteSpaceAndKeepsTheRestForLater) {
  EXPECT_EQ(tokens_of("  L design.bit\n\tQ\r\n\v\fH", 100),
            (std::vector<std::string>{"L", "design.bit", "Q", "H"}));
  EXPECT_TRUE(tokens_of(" \n\t\r\n", 100).empty());
  EXPECT_TRUE(tokens_of("", 100).empty());
}

// Over-long commands, names and entries, NUL bytes and very long tokens are played whole
// through the tool by the transcript cases.
TEST(ReadToken, ConsumesAnOverLongTokenWholeAsOneFailedRead) {
  const std::string longest(99, 'x');
  EXPECT_EQ(tokens_of(longest + " Q", 100), (std::vector<std::string>{longest, "Q"}));
  EXPECT_EQ(tokens_of("1234 255 -12", 4), (std::vector<std::string>{"<too long>", "255", "-12"}));
}

TEST(ReadToken, LeavesTheWhiteSpaceAfterATokenUnread) {
  const file_ptr input = file_of("Q\nrest");
  char buffer[4];
  read_token(input.get(), buffer, sizeof buffer);
  EXPECT_EQ(std::getc(input.get()), '\n');
}

TEST(TokenIs, MatchesOnlyTheWholeCapitalLetter) {
  EXPECT_TRUE(token_is({token_status::read, "L"}, "L"));
  for (const char* other : {"l", "LOAD", "L1", "", "Q", " L"}) {
    EXPECT_FALSE(token_is({token_status::read, other}, "L")) << other;
  }
  EXPECT_FALSE(token_is({token_status::too_long, "L"}, "L"));
}

}  // namespace
}  // namespace brevinmarquest

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace brevinmarquest {

enum class token_status : std::uint8_t {
  read,          // a whole token was read
  too_long,      // a token was consumed whole but did not fit; it counts as one failed read
  end_of_input,  // no token came before the input ended
};

struct token {
  token_status status;
  // The token as read, NUL bytes included; empty unless status is read.
  std::string_view text;
};

// The capacities of the dialogues' token buffers, the terminator counted: a menu command or a
// file name holds up to 99 characters, a hand-entered value up to 3.
constexpr std::size_t command_capacity = 100;
constexpr std::size_t entry_capacity = 4;

// Reads one whitespace-delimited token from `input` into `buffer`, zero-terminated; `capacity`
// counts the terminator. Leading white space, line breaks included, is skipped; the white space
// that ends the token stays unread for the next read. A token longer than capacity - 1 is
// consumed whole and discarded, never cut short, so memory stays bounded however long it is.
token read_token(std::FILE* input, char* buffer, std::size_t capacity);

// True exactly when `t` was read whole and is the command `word`: case counts and nothing may
// follow.
bool token_is(const token& t, const char* word);

}  // namespace brevinmarquest

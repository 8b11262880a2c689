#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "transfer/session.h"

namespace brevinmarquest {

// Reads one whitespace-delimited token from `input` into `buffer`, zero-terminated; `capacity`
// counts the terminator. Leading white space, line breaks included, is skipped; the white space
// that ends the token stays unread for the next read. A token longer than capacity - 1 is
// consumed whole and discarded, never cut short, so memory stays bounded however long it is.
token read_token(std::FILE* input, char* buffer, std::size_t capacity);

// True exactly when `text` is the command `word`: case counts and nothing may follow.
bool token_is(std::string_view text, const char* word);

// The pair of routines above, as the dialogues take them.
console_reading standard_reading();

}  // namespace brevinmarquest

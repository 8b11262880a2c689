#include "console/token_reader.h"

#include "platform/system.h"

namespace brevinmarquest {
namespace {

// The C locale's white space, fixed here so that no locale can change what ends a token.
bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

token read_token(std::FILE* input, char* buffer, std::size_t capacity) {
  int c = platform::read_input(input);
  while (is_white_space(c)) c = platform::read_input(input);
  if (c == EOF) return {token_status::end_of_input, {}};
  std::size_t length = 0;
  // Bytes past the buffer are counted, not kept, so that a token too long is known as one.
  for (; c != EOF && !is_white_space(c); c = platform::read_input(input)) {
    if (length + 1 < capacity) buffer[length] = static_cast<char>(c);
    ++length;
  }
  if (c != EOF) platform::unread_input(c, input);
  if (length + 1 > capacity) {
    buffer[0] = '\0';
    return {token_status::too_long, {}};
  }
  buffer[length] = '\0';
  return {token_status::read, std::string_view(buffer, length)};
}

bool token_is(const token& t, const char* word) {
  return t.status == token_status::read && t.text == word;
}

}  // namespace brevinmarquest

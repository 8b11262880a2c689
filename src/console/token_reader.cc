#include "console/token_reader.h"

namespace brevinmarquest {
namespace {

// The C locale's white space, fixed here so that no locale can change what ends a token.
bool is_white_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

token read_token(std::FILE* input, char* buffer, std::size_t capacity) {
  int c = std::getc(input);
  while (is_white_space(c)) c = std::getc(input);
  if (c == EOF) return {token_status::end_of_input, {}};
  std::size_t length = 0;
  bool fits = true;
  for (; c != EOF && !is_white_space(c); c = std::getc(input)) {
    if (length + 1 < capacity) {
      buffer[length++] = static_cast<char>(c);
    } else {
      fits = false;
    }
  }
  if (c != EOF) std::ungetc(c, input);
  if (!fits) {
    buffer[0] = '\0';
    return {token_status::too_long, {}};
  }
  buffer[length] = '\0';
  return {token_status::read, std::string_view(buffer, length)};
}

bool token_is(std::string_view text, const char* word) { return text == word; }

console_reading standard_reading() { return {read_token, token_is}; }

}  // namespace brevinmarquest

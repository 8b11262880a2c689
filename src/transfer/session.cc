#include "transfer/session.h"

#include <cstdarg>

namespace brevinmarquest {

token next_token(const session& s, char* buffer, std::size_t capacity) {
  if (std::ferror(s.output)) return {token_status::end_of_input, {}};
  return s.reading.read_token(s.input, buffer, capacity);
}

bool is_command(const session& s, const token& t, const char* word) {
  return t.status == token_status::read && s.reading.token_is(t.text, word);
}

void say(std::FILE* output, const char* format, ...) {
  if (std::ferror(output)) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(output, format, arguments);
  va_end(arguments);
  std::fflush(output);
}

}  // namespace brevinmarquest

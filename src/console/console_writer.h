#pragma once
// The console of one run: what the dialogues say, held until the tool next waits and then
// written in one call, so that a byte costs one console write and every text is visible before
// the wait behind it begins.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "console/token_reader.h"
#include "platform/system.h"

namespace brevinmarquest {

// How the tool learns that the user asked it to stop (Ctrl-C). By default no stop ever comes.
struct stop_handle {
  // Starts catching stops; called once a device is open.
  void (*arm)() = [] {};
  // Hands stops back as they were before; called once it is closed.
  void (*disarm)() = [] {};
  // The signal number of the stop that came, or 0. It stays set, and once it came nothing is
  // written until the end.
  int (*requested)() = [] { return 0; };
};

// Where the console reads and writes, and how it learns of a stop, handed in: the system's, or a
// test's.
struct console_io {
  std::FILE* input = nullptr;
  // Writes to the console stream; a stop may cut it short.
  std::function<platform::console_write(platform::console_stream, std::string_view)> write;
  stop_handle stops;
};

// The console a dialogue speaks to: its input and output, and the texts it still owes.
struct console {
  console_io io;
  // Texts said and not yet taken by the console, in order, each with its stream.
  std::deque<std::pair<platform::console_stream, std::string>> owed;
  bool output_failed = false;
};

// A piece of a console text: words as they are, a whole number in decimal.
inline void add_piece(std::string& text, std::string_view words) { text.append(words); }

template <typename Number, std::enable_if_t<std::is_integral_v<Number>, int> = 0>
void add_piece(std::string& text, Number number) {
  char digits[24];
  text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// The text owed to `stream` that what is said next joins, after everything said before it.
std::string& owed_to(console& c, platform::console_stream stream);

// Adds a dialogue text for the console, made of its pieces in order; gives its length.
template <typename... Pieces>
std::size_t say(console& c, const Pieces&... pieces) {
  std::string& text = owed_to(c, platform::console_stream::output);
  const std::size_t before = text.size();
  (add_piece(text, pieces), ...);
  return text.size() - before;
}

// Adds an explanation for standard error, in its place among the dialogue's texts.
template <typename... Pieces>
void explain(console& c, const Pieces&... pieces) {
  std::string& text = owed_to(c, platform::console_stream::diagnostics);
  (add_piece(text, pieces), ...);
}

enum class shown : std::uint8_t {
  all,      // the console took everything owed
  stopped,  // a stop came first: what is left waits until the tool ends
  failed,   // the console output is gone; nobody can follow the dialogue any more
};

// Writes what is owed, before the tool waits. After a stop nothing is written until the device
// is closed, so that a console that has stopped taking text cannot keep the device open.
shown show(console& c);

// Writes everything owed, however long the console takes, as the tool ends.
void show_all(console& c);

// Takes back the last `count` bytes said for standard output, when none of them reached the
// console yet.
bool unsay(console& c, std::size_t count);

// Reads the next token for a dialogue, after the console shows all that is owed. Once the
// console output has failed nobody can follow the dialogue any more, so input counts as ended
// and every loop winds down.
token next_token(console& c, char* buffer, std::size_t capacity);

// Typed text as data for standard error: quoted, with every byte a terminal could act on written
// as an escape.
std::string quoted(std::string_view text);

}  // namespace brevinmarquest

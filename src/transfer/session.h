#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "console/token_reader.h"
#include "platform/driver_library.h"
#include "platform/system.h"

namespace brevinmarquest {

// Closes a file on every path out of the code that opened it.
struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// How a transfer learns that the user asked it to stop (Ctrl-C). The tool asks the system; by
// default no stop ever comes.
struct stop_requests {
  // Starts catching stops; called once a device is open.
  void (*arm)() = [] {};
  // Hands stops back to the system, which ends the tool on them; called once it is closed.
  void (*disarm)() = [] {};
  // The signal number of the stop that was asked for, or 0; it stays set once asked.
  int (*requested)() = [] { return 0; };
};

// What the dialogue said that the console has not taken yet. Texts are collected between two
// waits and written in one call just before the tool next waits, so that a byte costs one
// console write and every text is visible before the wait behind it begins.
struct console_text {
  std::string owed;
  // Where each run of one stream ends in `owed`, in order.
  std::vector<std::pair<std::size_t, platform::console_stream>> runs;
  // Bytes the console has taken since the start, so that a place in the text stays known.
  std::uint64_t shown = 0;
  bool output_failed = false;
};

// Everything one run of the dialogue talks to, handed in, so that a test can play a whole
// session in-process on its own input, console, files and driver.
struct session {
  std::FILE* input = nullptr;
  // Writes to the console: the system's, or a test's.
  std::function<platform::console_write(platform::console_stream, std::string_view)> write;
  // The driver a link opens with each time; null when there is none, with `why` saying in one
  // line what was tried and why it failed.
  std::function<const platform::driver_calls*(std::string& why)> driver;
  // Opens a named file for binary reading; null when it cannot.
  std::function<std::FILE*(const char* name)> open_file;
  stop_requests stops;
  mutable console_text console;
};

// A piece of a console text: words as they are, a whole number in decimal.
inline void add_piece(std::string& text, std::string_view words) { text.append(words); }

template <typename Number, std::enable_if_t<std::is_integral_v<Number>, int> = 0>
void add_piece(std::string& text, Number number) {
  char digits[24];
  text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// Marks the text added last as the stream's.
void end_text(const session& s, platform::console_stream stream);

// Adds a dialogue text for the console, made of its pieces in order.
template <typename... Pieces>
void say(const session& s, const Pieces&... pieces) {
  (add_piece(s.console.owed, pieces), ...);
  end_text(s, platform::console_stream::output);
}

// Adds an explanation for standard error, in its place among the dialogue's texts.
template <typename... Pieces>
void explain(const session& s, const Pieces&... pieces) {
  (add_piece(s.console.owed, pieces), ...);
  end_text(s, platform::console_stream::diagnostics);
}

enum class shown : std::uint8_t {
  all,      // the console took everything owed
  stopped,  // a stop came first: what is left waits until the tool ends
  failed,   // the console output is gone; nobody can follow the dialogue any more
};

// Writes what is owed, before the tool waits. After a stop nothing is written until the device
// is closed, so that a console that has stopped taking text cannot keep the device open.
shown show(const session& s);

// Writes everything owed, however long the console takes, as the tool ends.
void show_all(const session& s);

// Where the next text said will stand.
std::uint64_t text_mark(const session& s);

// Takes back every text said since `mark`, when none of it reached the console yet.
bool take_back(const session& s, std::uint64_t mark);

// Typed text as data for standard error: quoted, with every byte a terminal could act on written
// as an escape.
std::string quoted(std::string_view text);

// Reads the next token for a dialogue, after the console shows all that is owed. Once the
// console output has failed nobody can follow the dialogue any more, so input counts as ended
// and every loop winds down.
token next_token(const session& s, char* buffer, std::size_t capacity);

}  // namespace brevinmarquest

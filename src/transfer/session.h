#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "platform/driver_library.h"

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

// The console routines the dialogues read with. The console layer provides them, so the
// transfers depend on nothing above them.
struct console_reading {
  // Reads one whitespace-delimited token into `buffer`; `capacity` counts the terminating zero.
  token (*read_token)(std::FILE* input, char* buffer, std::size_t capacity);
  // True exactly when `text` is the command `word`, nothing more and nothing less.
  bool (*token_is)(std::string_view text, const char* word);
};

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

// Everything one run of the dialogue talks to, handed in, so that a test can play a whole
// session in-process on its own input, output, files and driver.
struct session {
  std::FILE* input;
  // Every console text goes here, flushed the moment it is printed.
  std::FILE* output;
  // Explanations for the user beside the console texts; never part of the dialogue.
  std::FILE* diagnostics;
  console_reading reading;
  // The driver a link opens with each time; null when there is none, with `why` saying in one
  // line what was tried and why it failed.
  std::function<const platform::driver_calls*(std::string& why)> driver;
  // Opens a named file for binary reading; null when it cannot.
  std::function<std::FILE*(const char* name)> open_file;
  stop_requests stops;
};

// Reads the next token for a dialogue. Once the console output has failed nobody can follow the
// dialogue any more, so input counts as ended and every loop winds down.
token next_token(const session& s, char* buffer, std::size_t capacity);

// True when `t` was read whole and is the command `word`.
bool is_command(const session& s, const token& t, const char* word);

// Prints one text and flushes it, so it is visible at once even on a pipe. Nothing more goes to
// an output that has failed, where a write could block again after a stop.
void say(std::FILE* output, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace brevinmarquest

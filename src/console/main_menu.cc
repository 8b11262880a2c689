#include "console/main_menu.h"

#include "transfer/hand_entry.h"
#include "transfer/load_bit_file.h"

namespace brevinmarquest {
namespace {

// A stop during a transfer ends the tool with this plus the signal's number, as the shell
// reports a program that the signal ended.
constexpr int stopped_status_base = 128;

int run_menu(const session& s, console& c) {
  say(c, "****************\n*Brevinmarquest*\n****************\n\n");
  char buffer[command_capacity];
  for (;;) {
    say(c,
        "\nMAIN MENU\n\n"
        "   [L]oad .bit to USB\n"
        "   [H]and enter bytes to send to USB\n"
        "   [Q]uit\n\n");
    const token command = next_token(c, buffer, sizeof buffer);
    if (command.status == token_status::end_of_input) {
      // A script learns why it got this status; once the output failed, that is why.
      if (!c.output_failed) explain(c, "brevinmarquest: standard input ended before Q\n");
      return input_ended_status;
    }
    if (token_is(command, "L")) {
      load_bit_file(s, c);
    } else if (token_is(command, "H")) {
      hand_entry(s, c);
    } else if (token_is(command, "Q")) {
      return 0;
    } else {
      say(c, "Unrecognized Input (Must be capitalized)\n");
    }
    // The transfer has closed the device; the tool ends as the signal asked, but cleanly.
    if (const int stop = c.io.stops.requested()) return stopped_status_base + stop;
  }
}

}  // namespace

int main_menu(const session& s, console& c) {
  const int status = run_menu(s, c);
  show_all(c);
  return status;
}

}  // namespace brevinmarquest

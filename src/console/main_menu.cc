#include "console/main_menu.h"

#include "transfer/hand_entry.h"
#include "transfer/load_bit_file.h"

namespace brevinmarquest {
namespace {

constexpr std::size_t command_capacity = 100;

}  // namespace

int main_menu(const session& s) {
  say(s.output, "****************\n*Brevinmarquest*\n****************\n\n");
  char buffer[command_capacity];
  for (;;) {
    say(s.output,
        "\nMAIN MENU\n\n"
        "   [L]oad .bit to USB\n"
        "   [H]and enter bytes to send to USB\n"
        "   [Q]uit\n\n");
    const token command = next_token(s, buffer, sizeof buffer);
    if (command.status == token_status::end_of_input) return input_ended_status;
    if (is_command(s, command, "L")) {
      load_bit_file(s);
    } else if (is_command(s, command, "H")) {
      hand_entry(s);
    } else if (is_command(s, command, "Q")) {
      return 0;
    } else {
      say(s.output, "Unrecognized Input (Must be capitalized)\n");
    }
    // The transfer has closed the device; the tool ends as the signal asked, but cleanly.
    if (const int signal_number = s.stops.requested()) return stopped_status_base + signal_number;
  }
}

}  // namespace brevinmarquest

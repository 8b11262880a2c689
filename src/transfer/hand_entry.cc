#include "transfer/hand_entry.h"

#include <optional>
#include <string_view>

#include "transfer/usb_link.h"

namespace brevinmarquest {
namespace {

constexpr int largest_byte = 255;

// A typed entry read as decimal: an optional sign, then digits up to the first character that is
// not one. The value is none when no digit follows the sign; the rest is what follows the digits.
struct reading {
  std::optional<int> value;
  std::string_view rest;
};

reading read_entry(std::string_view entry) {
  const bool negative = !entry.empty() && entry[0] == '-';
  if (!entry.empty() && (negative || entry[0] == '+')) entry.remove_prefix(1);
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  if (entry.empty() || !is_digit(entry[0])) return {};
  int magnitude = 0;
  for (; !entry.empty() && is_digit(entry[0]); entry.remove_prefix(1)) {
    magnitude = magnitude * 10 + (entry[0] - '0');
  }
  return {negative ? -magnitude : magnitude, entry};
}

// Asks for values and sends each, until "Q", the end of input, a stop or a failed write.
void send_typed_values(console& c, usb_link& link) {
  char buffer[entry_capacity];
  while (!c.io.stops.requested()) {
    say(c, "Enter a number between 0 and 255 (Q to quit): ");
    const token entry = next_token(c, buffer, sizeof buffer);
    if (c.io.stops.requested()) {
      // The prompt's line is still open where both streams share a console.
      explain(c, "\n");
      return;
    }
    if (entry.status == token_status::end_of_input || token_is(entry, "Q")) return;
    const reading typed =
        entry.status == token_status::read ? read_entry(entry.text) : reading{-1, {}};
    // An entry without digits goes as 0; a user who meant to leave learns why the device got it.
    if (!typed.value) {
      explain(c, "brevinmarquest: ", quoted(entry.text),
              " is not a number, so it goes as 0; only Q quits\n");
    }
    const int value = typed.value.value_or(0);
    if (value < 0 || value > largest_byte) {
      say(c, "Invalid entry\n");
      continue;
    }
    // A user typing hex or a fraction learns that the device got something else.
    if (!typed.rest.empty()) {
      explain(c, "brevinmarquest: ", quoted(entry.text), " goes as ", value,
              ": only its leading decimal digits count\n");
    }
    if (!usb_link_send_byte(link, c, static_cast<unsigned char>(value))) return;
  }
}

}  // namespace

void hand_entry(const session& s, console& c) {
  with_link(s, c, [&c](usb_link& link) { send_typed_values(c, link); });
}

}  // namespace brevinmarquest

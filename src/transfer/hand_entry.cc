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

}  // namespace

void hand_entry(const session& s, console& c) {
  std::optional<usb_link> link = usb_link_open(s, c);
  if (!link) return;
  const link_closer closing{*link};
  char buffer[entry_capacity];
  while (!s.stops.requested()) {
    say(c, "Enter a number between 0 and 255 (Q to quit): ");
    const token entry = next_token(c, buffer, sizeof buffer);
    if (s.stops.requested()) {
      // The prompt's line is still open where both streams share a console.
      explain(c, "\n");
      break;
    }
    if (entry.status == token_status::end_of_input || token_is(entry, "Q")) break;
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
    if (!usb_link_send_byte(*link, static_cast<unsigned char>(value))) return;
  }
}

}  // namespace brevinmarquest

#include "transfer/hand_entry.h"

#include "transfer/usb_link.h"

namespace brevinmarquest {
namespace {

constexpr std::size_t entry_capacity = 4;
constexpr int largest_byte = 255;
// Any magnitude past this is out of range whatever follows, so conversion stops growing here.
constexpr int saturation = 100000;

}  // namespace

int entry_value(std::string_view entry) {
  std::size_t at = 0;
  while (at < entry.size() && is_white_space(entry[at])) ++at;
  bool negative = false;
  if (at < entry.size() && (entry[at] == '+' || entry[at] == '-')) {
    negative = entry[at] == '-';
    ++at;
  }
  int magnitude = 0;
  for (; at < entry.size() && entry[at] >= '0' && entry[at] <= '9'; ++at) {
    if (magnitude < saturation) magnitude = magnitude * 10 + (entry[at] - '0');
  }
  return negative ? -magnitude : magnitude;
}

void hand_entry(const session& s) {
  usb_link link;
  if (!usb_link_open(link, s)) return;
  char buffer[entry_capacity];
  while (!stop_requested(s.stops)) {
    say(s.output, "Enter a number between 0 and 255 (Q to quit): ");
    const token entry = next_token(s, buffer, sizeof buffer);
    if (entry.status == token_status::end_of_input || is_command(s, entry, "Q")) break;
    const int value = entry.status == token_status::read ? entry_value(entry.text) : -1;
    if (value < 0 || value > largest_byte) {
      say(s.output, "Invalid entry\n");
      continue;
    }
    if (!usb_link_send_byte(link, static_cast<unsigned char>(value))) break;
  }
  usb_link_close(link);
}

}  // namespace brevinmarquest

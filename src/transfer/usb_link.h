#pragma once

#include <cstdint>
#include <optional>

#include "platform/driver_library.h"
#include "transfer/session.h"

namespace brevinmarquest {

// An open connection with device 0, owned by the transfer that opened it.
struct usb_link {
  const platform::driver_calls* driver;
  // Valid until the close.
  void* handle;
  // Bytes the driver reported written since the open. 64 bits, so it never wraps.
  std::uint64_t total;
  // Where the link prints.
  console* c;
  // Where it looks for the user's stop, and hands the stops back at the close.
  const stop_requests* stops;
};

// Opens device 0 and says so; none when it failed, with the console told why and nothing to
// close. While it is open, the user's stop lets the transfer close it.
std::optional<usb_link> usb_link_open(const session& s, console& c);

// Writes one byte and shows the running total; false means the transfer must stop.
bool usb_link_send_byte(usb_link& link, unsigned char byte);

// Closes the device; exactly once after every open that gave a link. After a stop it tells the
// user how far the transfer got.
void usb_link_close(usb_link& link);

// Closes the link as its transfer leaves, by whatever path.
struct link_closer {
  usb_link& link;
  ~link_closer() { usb_link_close(link); }
};

}  // namespace brevinmarquest

#pragma once

#include <cstdint>
#include <functional>

#include "platform/driver_library.h"
#include "transfer/session.h"

namespace brevinmarquest {

// An open connection with device 0, living for one transfer.
struct usb_link {
  const platform::driver_calls* driver;
  void* handle;
  // 64 bits, so that it never wraps.
  std::uint64_t total;
};

// Opens device 0 and says so, runs `transfer` on the link, then closes the device and, after a
// stop, tells the user how far the transfer got. While the device is open, the user's stop lets
// the transfer finish its write and end. When the open fails the console is told why, and
// nothing is run or closed.
void with_link(const session& s, console& c, const std::function<void(usb_link&)>& transfer);

// Writes one byte and shows the running total; false means the transfer must stop.
bool usb_link_send_byte(usb_link& link, console& c, unsigned char byte);

}  // namespace brevinmarquest

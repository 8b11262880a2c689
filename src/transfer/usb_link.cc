#include "transfer/usb_link.h"

#include <string>

namespace brevinmarquest {
namespace {

constexpr std::int32_t device_index = 0;

// One line beside the console text, so that the user learns where to look.
void explain_open_failure(const session& s, const platform::driver_calls& driver,
                          platform::DeviceStatus status) {
  const std::string advice = driver.open_failure_advice(driver.state, status);
  say(s.diagnostics, "brevinmarquest: %s could not open device %d (code %u)%s%s\n", driver.library,
      device_index, status, advice.empty() ? "" : ": ", advice.c_str());
}

}  // namespace

bool usb_link_open(usb_link& link, const session& s) {
  std::string why;
  const platform::driver_calls* driver = s.driver(why);
  if (!driver) {
    say(s.diagnostics, "brevinmarquest: %s\n", why.c_str());
    say(s.output, "ERROR opening USB!  Code %u.\n", driver_missing_status);
    return false;
  }
  void* handle = nullptr;
  const platform::DeviceStatus status = driver->open_by_index(driver->state, device_index, &handle);
  if (status != 0) {
    explain_open_failure(s, *driver, status);
    say(s.output, "ERROR opening USB!  Code %u.\n", status);
    return false;
  }
  say(s.output, "USB Interface Opened Successfully!\n");
  link = usb_link{driver, handle, 0, s.output};
  return true;
}

bool usb_link_send_byte(usb_link& link, unsigned char byte) {
  unsigned char buffer[1] = {byte};
  // A driver that breaks its promise to fill in the count must not be credited with a byte.
  std::uint32_t written = 0;
  const platform::DeviceStatus status =
      link.driver->write(link.driver->state, link.handle, buffer, sizeof buffer, &written);
  link.total += written;
  say(link.output, "   %llu total bytes written\n", static_cast<unsigned long long>(link.total));
  if (written != sizeof buffer) {
    say(link.output, "ERROR! Only %u of 1 bytes written successfully.  Aborting...\n", written);
    return false;
  }
  if (status != 0) {
    say(link.output, "ERROR writing data!  Code %u.  Aborting...\n", status);
    return false;
  }
  return true;
}

void usb_link_close(usb_link& link) {
  link.driver->close(link.driver->state, link.handle);
}

}  // namespace brevinmarquest

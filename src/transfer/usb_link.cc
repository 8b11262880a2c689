#include "transfer/usb_link.h"

#include <csignal>
#include <string>

#include "platform/open_advice.h"
#include "platform/system.h"

namespace brevinmarquest {
namespace {

using platform::DeviceStatus;
namespace device_status = platform::device_status;

constexpr std::int32_t device_index = 0;

// The library's own words on its last failure, as a line's ending; empty when it has none.
std::string library_words(const platform::driver_calls& driver) {
  const std::string words = driver.last_words ? driver.last_words() : "";
  return words.empty() ? "" : ": libftdi says \"" + words + "\"";
}

// After the console's line, what failed and then the fix, with the advice for this system and
// this copy of the tool: two lines at most.
void explain_open_failure(const session& s, const platform::driver_calls* driver,
                          DeviceStatus status, const std::string& why) {
  const platform::open_advice advice = platform::advice_for(
      platform::running_system(), driver ? driver->kind : platform::library_kind::vendor, status,
      platform::udev_rule_for(platform::tool_path(), platform::rule_readable));
  if (!driver) {
    explain(s, "brevinmarquest: no driver library could be loaded: ", why, "\n");
  } else {
    const std::string passed_over =
        driver->passed_over.empty() ? "" : " (used because " + driver->passed_over + ")";
    // The library's own words say more than a guess at the causes, and keep the line short.
    const std::string words = library_words(*driver);
    explain(s, "brevinmarquest: ", driver->library, passed_over, " could not open device ",
            device_index, " (code ", status, ")",
            words.empty() && !advice.causes.empty() ? ": " + advice.causes : words, "\n");
  }
  if (!advice.fix.empty()) explain(s, "brevinmarquest: fix: ", advice.fix, "\n");
}

}  // namespace

std::optional<usb_link> usb_link_open(const session& s) {
  std::string why;
  const platform::driver_calls* driver = s.driver(why);
  void* handle = nullptr;
  const DeviceStatus status =
      driver ? driver->open_by_index(device_index, &handle) : device_status::no_driver_library;
  if (status == device_status::ok) {
    s.stops.arm();
    say(s, "USB Interface Opened Successfully!\n");
    return usb_link{driver, handle, 0, &s};
  }
  say(s, "ERROR opening USB!  Code ", status, ".\n");
  explain_open_failure(s, driver, status, why);
  return std::nullopt;
}

bool usb_link_send_byte(usb_link& link, unsigned char byte) {
  unsigned char buffer[1] = {byte};
  // A driver that breaks its promise to fill in the count must not be credited with a byte.
  std::uint32_t written = 0;
  const DeviceStatus status = link.driver->write(link.handle, buffer, sizeof buffer, &written);
  link.total += written;
  const session& s = *link.s;
  say(s, "   ", link.total, " total bytes written\n");
  if (written != sizeof buffer) {
    say(s, "ERROR! Only ", written, " of 1 bytes written successfully.  Aborting...\n");
    // The console's line leaves the status out; the user still needs it to tell failures apart.
    explain(s, "brevinmarquest: the write to device ", device_index, " failed with code ", status,
            " (", platform::status_words(status), ")", library_words(*link.driver), "\n");
    return false;
  }
  if (status != device_status::ok) {
    say(s, "ERROR writing data!  Code ", status, ".  Aborting...\n");
    return false;
  }
  return true;
}

void usb_link_close(usb_link& link) {
  const session& s = *link.s;
  link.driver->close(link.handle);
  s.stops.disarm();
  if (const int signal_number = s.stops.requested()) {
    explain(s, "brevinmarquest: stopped by ", signal_number == SIGTERM ? "SIGTERM" : "SIGINT", ": ",
            link.total, link.total == 1 ? " byte" : " bytes",
            " sent in this transfer, and the device is closed\n");
  }
}

}  // namespace brevinmarquest

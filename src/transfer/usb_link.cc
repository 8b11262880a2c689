#include "transfer/usb_link.h"

#include <csignal>
#include <string>

#include "platform/open_advice.h"
#include "platform/system.h"

namespace brevinmarquest {
namespace {

constexpr std::int32_t device_index = 0;

platform::open_advice advice_for(platform::library_kind kind, platform::DeviceStatus status) {
  return platform::advice_for(
      platform::running_system(), kind, status,
      platform::udev_rule_for(platform::tool_path(), platform::rule_readable));
}

// The library's own words on its last failure, as a line's ending; empty when it has none.
std::string library_words(const platform::driver_calls& driver) {
  const std::string words = driver.last_words ? driver.last_words() : "";
  return words.empty() ? "" : ": libftdi says \"" + words + "\"";
}

// Explains a failed open after the console's ERROR line: what failed, with the library used,
// then the fix.
void explain_open_failure(const session& s, const platform::driver_calls& driver,
                          platform::DeviceStatus status) {
  const platform::open_advice advice = advice_for(driver.kind, status);
  std::string failed = driver.library;
  if (!driver.passed_over.empty()) failed += " (used because " + driver.passed_over + ")";
  failed += " could not open device " + std::to_string(device_index) + " (code " +
            std::to_string(status) + ")";
  // The library's own words say more than a guess at the causes, and keep the line short.
  const std::string words = library_words(driver);
  if (!words.empty()) {
    failed += words;
  } else if (!advice.causes.empty()) {
    failed += ": " + advice.causes;
  }
  explain(s, "brevinmarquest: ", failed, "\n");
  if (!advice.fix.empty()) explain(s, "brevinmarquest: fix: ", advice.fix, "\n");
}

void explain_write_failure(const session& s, const platform::driver_calls& driver,
                           platform::DeviceStatus status) {
  explain(s, "brevinmarquest: the write to device ", device_index, " failed with code ", status,
          " (", platform::status_words(status), ")", library_words(driver), "\n");
}

}  // namespace

bool usb_link_open(usb_link& link, const session& s) {
  std::string why;
  const platform::driver_calls* driver = s.driver(why);
  if (!driver) {
    say(s, "ERROR opening USB!  Code ", platform::device_status::no_driver_library, ".\n");
    explain(s, "brevinmarquest: no driver library could be loaded: ", why, "\n");
    explain(
        s, "brevinmarquest: fix: ",
        advice_for(platform::library_kind::vendor, platform::device_status::no_driver_library).fix,
        "\n");
    return false;
  }
  void* handle = nullptr;
  const platform::DeviceStatus status = driver->open_by_index(device_index, &handle);
  if (status != platform::device_status::ok) {
    say(s, "ERROR opening USB!  Code ", status, ".\n");
    explain_open_failure(s, *driver, status);
    return false;
  }
  s.stops.arm();
  say(s, "USB Interface Opened Successfully!\n");
  link = usb_link{driver, handle, 0, &s};
  return true;
}

bool usb_link_send_byte(usb_link& link, unsigned char byte) {
  unsigned char buffer[1] = {byte};
  // A driver that breaks its promise to fill in the count must not be credited with a byte.
  std::uint32_t written = 0;
  const platform::DeviceStatus status =
      link.driver->write(link.handle, buffer, sizeof buffer, &written);
  link.total += written;
  const session& s = *link.console;
  say(s, "   ", link.total, " total bytes written\n");
  if (written != sizeof buffer) {
    say(s, "ERROR! Only ", written, " of 1 bytes written successfully.  Aborting...\n");
    // The console's line leaves the status out; the user still needs it to tell failures apart.
    explain_write_failure(s, *link.driver, status);
    return false;
  }
  if (status != platform::device_status::ok) {
    say(s, "ERROR writing data!  Code ", status, ".  Aborting...\n");
    return false;
  }
  return true;
}

void usb_link_close(usb_link& link) {
  const session& s = *link.console;
  link.driver->close(link.handle);
  s.stops.disarm();
  if (const int signal_number = s.stops.requested()) {
    explain(s, "brevinmarquest: stopped by ", signal_number == SIGTERM ? "SIGTERM" : "SIGINT", ": ",
            link.total, link.total == 1 ? " byte" : " bytes",
            " sent in this transfer, and the device is closed\n");
  }
}

}  // namespace brevinmarquest

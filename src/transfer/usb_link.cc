#include "transfer/usb_link.h"

#include <csignal>
#include <string>

#include "platform/open_advice.h"
#include "platform/system.h"

namespace brevinmarquest {
namespace {

constexpr std::int32_t device_index = 0;

platform::open_advice advice_for(platform::library_kind kind, platform::DeviceStatus status) {
  return platform::advice_for(platform::running_system(), kind, status, platform::this_udev_rule());
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
  const std::string words = driver.last_words ? driver.last_words() : "";
  if (!words.empty()) {
    failed += ": libftdi says \"" + words + "\"";
  } else if (!advice.causes.empty()) {
    failed += ": " + advice.causes;
  }
  say(s.diagnostics, "brevinmarquest: %s\n", failed.c_str());
  if (!advice.fix.empty()) say(s.diagnostics, "brevinmarquest: fix: %s\n", advice.fix.c_str());
}

}  // namespace

bool usb_link_open(usb_link& link, const session& s) {
  std::string why;
  const platform::driver_calls* driver = s.driver(why);
  if (!driver) {
    say(s.output, "ERROR opening USB!  Code %u.\n", platform::device_status::no_driver_library);
    say(s.diagnostics, "brevinmarquest: no driver library could be loaded: %s\n", why.c_str());
    say(s.diagnostics, "brevinmarquest: fix: %s\n",
        advice_for(platform::library_kind::vendor, platform::device_status::no_driver_library)
            .fix.c_str());
    return false;
  }
  void* handle = nullptr;
  const platform::DeviceStatus status = driver->open_by_index(device_index, &handle);
  if (status != platform::device_status::ok) {
    say(s.output, "ERROR opening USB!  Code %u.\n", status);
    explain_open_failure(s, *driver, status);
    return false;
  }
  s.stops.arm();
  say(s.output, "USB Interface Opened Successfully!\n");
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
  std::FILE* output = link.console->output;
  say(output, "   %llu total bytes written\n", static_cast<unsigned long long>(link.total));
  if (written != sizeof buffer) {
    say(output, "ERROR! Only %u of 1 bytes written successfully.  Aborting...\n", written);
    return false;
  }
  if (status != platform::device_status::ok) {
    say(output, "ERROR writing data!  Code %u.  Aborting...\n", status);
    return false;
  }
  return true;
}

void usb_link_close(usb_link& link) {
  const session& s = *link.console;
  link.driver->close(link.handle);
  s.stops.disarm();
  if (const int signal_number = s.stops.requested()) {
    say(s.diagnostics,
        "brevinmarquest: stopped by %s: %llu byte%s sent in this transfer, and the "
        "device is closed\n",
        signal_number == SIGTERM ? "SIGTERM" : "SIGINT",
        static_cast<unsigned long long>(link.total), link.total == 1 ? "" : "s");
  }
}

}  // namespace brevinmarquest

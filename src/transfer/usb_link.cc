#include "transfer/usb_link.h"

#include <string>

#include "platform/open_advice.h"
#include "platform/system.h"

namespace brevinmarquest {
namespace {

using platform::DeviceStatus;
namespace device_status = platform::device_status;

constexpr std::int32_t device_index = 0;
// How long a write may wait for the device to take its byte, so that a chip that never takes it
// cannot hold the tool, the device open, for ever. A read is never made; it gets the same.
constexpr std::uint32_t write_timeout_ms = 5000;

// The library's own words on the failure of a write on `handle`, or with none of the last open,
// as a line's ending; empty when it has none.
std::string library_words(const platform::driver_calls& driver, void* handle) {
  const std::string words = driver.failure_words ? driver.failure_words(handle) : "";
  return words.empty() ? "" : ": libftdi says \"" + words + "\"";
}

// After the console's line, what failed and then the fix, with the advice for this system and
// this copy of the tool: two lines at most.
void explain_open_failure(console& c, const platform::driver_calls* driver, DeviceStatus status,
                          const std::string& why, bool usb_missing) {
  const platform::open_advice advice = platform::advice_for(
      platform::running_system(), driver ? driver->kind : platform::library_kind::vendor, status,
      usb_missing, platform::udev_rule_step(platform::tool_path(), platform::rule_readable),
      platform::running_as_root());
  if (!driver) {
    explain(c, "brevinmarquest: no driver library could be loaded: ", why, "\n");
  } else {
    const std::string passed_over =
        driver->passed_over.empty() ? "" : " (used because " + driver->passed_over + ")";
    // The library's own words say more than a guess at the causes, and keep the line short.
    const std::string words = library_words(*driver, nullptr);
    explain(c, "brevinmarquest: ", driver->library, passed_over, " could not open device ",
            device_index, " (code ", status, ")",
            words.empty() && !advice.causes.empty() ? ": " + advice.causes : words, "\n");
  }
  if (!advice.fix.empty()) explain(c, "brevinmarquest: fix: ", advice.fix, "\n");
}

// The console's line leaves the status out; the user still needs to know what failed. A driver
// that reports no byte and no failure gave up waiting for the device to take it.
void explain_short_write(console& c, const usb_link& link, std::uint32_t written,
                         DeviceStatus status) {
  const bool failed = status != device_status::ok;
  if (written == 0 && !failed) {
    const std::string within =
        link.driver->set_timeouts
            ? " within " + std::to_string(write_timeout_ms / 1000) + " seconds"
            : "";
    explain(c, "brevinmarquest: device ", device_index, " took no byte", within,
            ": on a chip in a FIFO mode, nothing on the far side is reading\n");
    return;
  }
  const std::string count =
      written == 0 ? ""
                   : " reported " + std::to_string(written) + " bytes written for a 1-byte write";
  const std::string failure = failed ? " failed with code " + std::to_string(status) + " (" +
                                           platform::status_words(status) + ")" +
                                           library_words(*link.driver, link.handle)
                                     : "";
  explain(c, "brevinmarquest: the write to device ", device_index, count,
          !count.empty() && failed ? " and" : "", failure, "\n");
}

// Says on standard error that the device may hold a write for ever, when it cannot be told not to.
void limit_writes(console& c, const platform::driver_calls& driver, void* handle) {
  if (!driver.set_timeouts) return;
  const DeviceStatus status = driver.set_timeouts(handle, write_timeout_ms, write_timeout_ms);
  if (status != device_status::ok) {
    explain(c, "brevinmarquest: the timeouts of device ", device_index, " could not be set (code ",
            status, "): a byte it does not take holds the tool until Ctrl-C\n");
  }
}

DeviceStatus open_device(const platform::driver_calls* driver, bool usb_missing, void** handle) {
  if (!driver) return device_status::no_driver_library;
  if (usb_missing) return device_status::device_not_found;
  return driver->open_by_index(device_index, handle);
}

// Closes the device. After a stop it tells the user how far the transfer got.
void close_link(const usb_link& link, console& c) {
  const DeviceStatus closed = link.driver->close(link.handle);
  c.io.stops.disarm();
  if (closed != device_status::ok) {
    explain(c, "brevinmarquest: closing device ", device_index, " failed with code ", closed, " (",
            platform::status_words(closed),
            "): if it does not open again, unplug it and plug it in again\n");
  }
  if (const int signal_number = c.io.stops.requested()) {
    explain(c, "brevinmarquest: stopped by ", platform::stop_name(signal_number), ": ",
            link.total, link.total == 1 ? " byte" : " bytes",
            " sent in this transfer, and the device is closed\n");
  }
}

}  // namespace

void with_link(const session& s, console& c, const std::function<void(usb_link&)>& transfer) {
  std::string why;
  const platform::driver_calls* driver = s.driver(why);
  const bool usb_missing = driver && driver->usb_missing && driver->usb_missing();
  void* handle = nullptr;
  const DeviceStatus status = open_device(driver, usb_missing, &handle);
  if (status != device_status::ok) {
    say(c, "ERROR opening USB!  Code ", status, ".\n");
    explain_open_failure(c, driver, status, why, usb_missing);
    return;
  }
  c.io.stops.arm();
  say(c, "USB Interface Opened Successfully!\n");
  limit_writes(c, *driver, handle);
  usb_link link{driver, handle, 0};
  transfer(link);
  close_link(link, c);
}

bool usb_link_send_byte(usb_link& link, console& c, unsigned char byte) {
  unsigned char buffer[1] = {byte};
  // A driver that breaks its promise to fill in the count must not be credited with a byte.
  std::uint32_t written = 0;
  platform::device_write_under_way(true);
  const DeviceStatus status = link.driver->write(link.handle, buffer, sizeof buffer, &written);
  platform::device_write_under_way(false);
  link.total += written;
  say(c, "   ", link.total, " total bytes written\n");
  if (written != sizeof buffer) {
    say(c, "ERROR! Only ", written, " of 1 bytes written successfully.  Aborting...\n");
    explain_short_write(c, link, written, status);
    return false;
  }
  if (status != device_status::ok) {
    say(c, "ERROR writing data!  Code ", status, ".  Aborting...\n");
    return false;
  }
  return true;
}

}  // namespace brevinmarquest

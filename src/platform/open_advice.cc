#include "platform/open_advice.h"

#include <cstdio>
#include <iterator>
#include <optional>

namespace brevinmarquest::platform {
namespace {

struct advice_row {
  system_kind system;
  // Empty for a row that answers for every library.
  std::optional<library_kind> library;
  DeviceStatus status;
  const char* causes;
  // What to do, before the steps below.
  const char* fix;
  // A command to run as root, with sudo where the tool is not already root; null for none.
  const char* root_command = nullptr;
  // Whether the fix ends with the step for the udev rule, which depends on how the tool was
  // installed.
  bool rule_step = false;
  // Whether the row answers where the machine shows no USB device and the library was not asked.
  bool usb_missing = false;
};

using device_status::device_not_found;
using device_status::device_not_opened;
using device_status::no_driver_library;
constexpr system_kind on_linux = system_kind::linux_system;
constexpr system_kind on_macos = system_kind::macos;
constexpr system_kind on_windows = system_kind::windows;
constexpr library_kind vendor = library_kind::vendor;
constexpr library_kind libftdi = library_kind::libftdi;
constexpr auto any_library = std::nullopt;
constexpr const char* no_command = nullptr;
constexpr bool and_the_rule = true;
constexpr bool no_rule = false;
constexpr bool without_usb = true;

const advice_row advice_table[] = {
    {on_linux, vendor, device_not_found,
     "no device found: none is plugged in, ftdi_sio holds it, or you lack permission on it",
     "plug the device in", "rmmod ftdi_sio", and_the_rule},
    {on_linux, vendor, device_not_opened,
     "found but not opened: another program or ftdi_sio holds it, or you lack permission on it",
     "close the other program", "rmmod ftdi_sio", and_the_rule},
    {on_linux, vendor, device_not_found,
     "this machine shows no USB device (/dev/bus/usb is missing or empty), and FTDI's library "
     "crashes when asked to open one there",
     "plug the device into this machine; a virtual machine or container needs USB passed "
     "through to it",
     no_command, no_rule, without_usb},
    // Listing needs no permission: a device that lsusb shows but libftdi1 does not list has a
    // product ID the tool does not look for.
    {on_linux, libftdi, device_not_found,
     "no device with FTDI's usual IDs (0403 with 6001, 6010, 6011, 6014 or 6015) is listed",
     "plug the device in; if lsusb shows it as 0403 with another product ID, libftdi1 does not "
     "list it for the tool"},
    {on_linux, libftdi, device_not_opened, "you lack permission on it, or another program holds it",
     "close any program that uses the device", no_command, and_the_rule},
    {on_linux, any_library, no_driver_library, "",
     "install FTDI's D2XX library or, on Debian and Ubuntu", "apt install libftdi1-2"},
    {on_macos, any_library, device_not_found,
     "no device found: none is plugged in, or Apple's serial driver holds it",
     "plug the device in, and keep Apple's serial driver off it as FTDI's D2XX guide for macOS "
     "says"},
    {on_macos, any_library, device_not_opened,
     "the device was found but could not be opened: another program or Apple's serial driver "
     "holds it",
     "close the other program, and keep Apple's serial driver off the device as FTDI's D2XX "
     "guide for macOS says"},
    {on_macos, any_library, no_driver_library, "",
     "run brew install libftdi, or install FTDI's D2XX library"},
    {on_windows, any_library, device_not_found,
     "no device found: none is plugged in, or FTDI's driver is not installed for it",
     "plug the device in; if it is plugged in, install FTDI's D2XX driver for it and plug it in "
     "again"},
    {on_windows, any_library, device_not_opened,
     "the device was found but could not be opened: another program uses it",
     "close that program, or unplug the device and plug it in again"},
    {on_windows, any_library, no_driver_library, "",
     "install FTDI's D2XX driver package (the CDM driver) from FTDI's website"},
};

// The vendor's status codes in order, each named as FTDI's D2XX guide names it.
// clang-format off
constexpr const char* vendor_status_words[] = {
    "ok", "invalid handle", "device not found", "device not opened", "I/O error",
    "insufficient resources", "invalid parameter", "invalid baud rate",
    "device not opened for erase", "device not opened for write", "failed to write device",
    "EEPROM read failed", "EEPROM write failed", "EEPROM erase failed", "EEPROM not present",
    "EEPROM not programmed", "invalid arguments", "not supported", "other error",
    "device list not ready"};
// clang-format on

}  // namespace

std::string udev_rule_step(const std::string& program, bool (*present)(const std::string& path)) {
  const std::size_t bin = program.rfind("/bin/");
  const bool installed =
      bin != std::string::npos && program.find('/', bin + 5) == std::string::npos;
  const std::string prefix = installed ? program.substr(0, bin) : "";
  const std::string path = prefix + "/lib/udev/rules.d/60-brevinmarquest.rules";
  if (!installed || !present(path)) {
    return "install the udev rule udev/60-brevinmarquest.rules from the source tree";
  }
  const std::string join = "join the plugdev group";
  if (prefix == "/usr" || prefix == "/usr/local" || prefix.empty()) {
    return join + " (the udev rule " + path + " lets it in)";
  }
  return "copy the udev rule " + path + " into /etc/udev/rules.d, where udev reads it, and " + join;
}

bool rule_readable(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file) std::fclose(file);
  return file != nullptr;
}

const char* status_words(DeviceStatus status) {
  if (status < std::size(vendor_status_words)) return vendor_status_words[status];
  return status == device_status::no_driver_library ? "no driver library" : "unknown code";
}

open_advice advice_for(system_kind system, library_kind kind, DeviceStatus status, bool usb_missing,
                       const std::string& rule_step, bool as_root) {
  for (const advice_row& row : advice_table) {
    if (row.system != system || row.library.value_or(kind) != kind || row.status != status ||
        row.usb_missing != usb_missing) {
      continue;
    }
    std::string fix = row.fix;
    const std::string sudo = as_root ? "" : "sudo ";
    if (row.root_command) fix += ", run " + sudo + row.root_command;
    if (row.rule_step) fix += ", and " + rule_step;
    // Windows has no manual page; the README is beside the tool there.
    return {row.causes,
            fix + (system == on_windows ? "; see the README" : "; see man brevinmarquest")};
  }
  return {};
}

}  // namespace brevinmarquest::platform

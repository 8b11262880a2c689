#include "platform/open_advice.h"

#include <algorithm>
#include <iterator>
#include <string_view>

namespace brevinmarquest::platform {
namespace {

// Stands in a fix for what to do about the udev rule, which depends on how the tool was
// installed.
constexpr std::string_view rule_marker = "{rule}";

// One row of the table; `any_library` rows answer for both kinds.
struct advice_row {
  system_kind system;
  bool any_library;
  library_kind kind;
  DeviceStatus status;
  const char* causes;
  const char* fix;
};

constexpr system_kind linux_system = system_kind::linux_system;
constexpr system_kind macos = system_kind::macos;
constexpr system_kind windows = system_kind::windows;
constexpr library_kind vendor = library_kind::vendor;
constexpr library_kind libftdi = library_kind::libftdi;
constexpr bool any = true;
constexpr bool only = false;
constexpr DeviceStatus not_found = device_status::device_not_found;
constexpr DeviceStatus not_opened = device_status::device_not_opened;
constexpr DeviceStatus no_library = device_status::no_driver_library;

const advice_row advice_table[] = {
    {linux_system, only, vendor, not_found,
     "no device found: none is plugged in, ftdi_sio holds it, or you lack permission on it",
     "plug the device in, run sudo rmmod ftdi_sio, and {rule}; see man brevinmarquest"},
    {linux_system, only, vendor, not_opened,
     "found but not opened: another program or ftdi_sio holds it, or you lack permission on it",
     "close the other program, run sudo rmmod ftdi_sio, and {rule}; see man brevinmarquest"},
    {linux_system, only, libftdi, not_found, "no device with FTDI's usual IDs is listed",
     "plug the device in; if lsusb lists it, {rule}; see man brevinmarquest"},
    {linux_system, only, libftdi, not_opened,
     "you lack permission on it, or another program holds it",
     "{rule}, and close any program that uses the device; see man brevinmarquest"},
    {linux_system, any, vendor, no_library, "",
     "on Debian and Ubuntu run sudo apt install libftdi1-2, or install FTDI's D2XX library; see "
     "man brevinmarquest"},
    {macos, any, vendor, not_found,
     "no device found: none is plugged in, or Apple's serial driver holds it",
     "plug the device in, and keep Apple's serial driver off it as FTDI's D2XX guide for macOS "
     "says; see man brevinmarquest"},
    {macos, any, vendor, not_opened,
     "the device was found but could not be opened: another program or Apple's serial driver "
     "holds it",
     "close the other program, and keep Apple's serial driver off the device as FTDI's D2XX "
     "guide for macOS says; see man brevinmarquest"},
    {macos, any, vendor, no_library, "",
     "run brew install libftdi and start the tool with "
     "DYLD_FALLBACK_LIBRARY_PATH=/opt/homebrew/lib, or install FTDI's D2XX library; see man "
     "brevinmarquest"},
    {windows, any, vendor, not_found,
     "no device found: none is plugged in, or FTDI's driver is not installed for it",
     "plug the device in; if it is plugged in, install FTDI's D2XX driver for it and plug it in "
     "again; see the README"},
    {windows, any, vendor, not_opened,
     "the device was found but could not be opened: another program uses it",
     "close that program, or unplug the device and plug it in again; see the README"},
    {windows, any, vendor, no_library, "",
     "install FTDI's D2XX driver package (the CDM driver) from FTDI's website; see the README"},
};

// An installed tool has its rule in place; what is left is to be among those it lets in.
std::string rule_step(const udev_rule& rule) {
  return rule.installed ? "join the plugdev group (the udev rule " + rule.path + " lets it in)"
                        : "install the udev rule " + rule.path;
}

std::string with_rule(std::string fix, const udev_rule& rule) {
  const std::size_t at = fix.find(rule_marker);
  if (at != std::string::npos) fix.replace(at, rule_marker.size(), rule_step(rule));
  return fix;
}

}  // namespace

open_advice advice_for(system_kind system, library_kind kind, DeviceStatus status,
                       const udev_rule& rule) {
  const auto answers = [&](const advice_row& row) {
    return row.system == system && (row.any_library || row.kind == kind) && row.status == status;
  };
  const auto* end = std::end(advice_table);
  const auto* row = std::find_if(std::begin(advice_table), end, answers);
  if (row == end) return {};
  const advice_row& found = *row;
  return {found.causes, with_rule(found.fix, rule)};
}

}  // namespace brevinmarquest::platform

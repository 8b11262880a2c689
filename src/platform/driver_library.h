#pragma once

#include <cstdint>
#include <string>

#include "platform/device_status.h"

namespace brevinmarquest::platform {

// The kinds of library a device is reached through; their failures have different causes.
enum class library_kind : std::uint8_t { vendor, libftdi };

// A driver: calls typed as the vendor's library exports them, so that its addresses bind straight
// in (DRIVER_CALL is its calling convention), and what the user is told about it.
struct driver_calls {
  // Opens device `index`. On 0, *handle is valid until close; otherwise there is nothing to close.
  DeviceStatus(DRIVER_CALL* open_by_index)(std::int32_t index, void** handle) = nullptr;
  // Writes `count` bytes; blocks until they are taken or the write timeout passes. Fills in
  // *written on every call, success or not.
  DeviceStatus(DRIVER_CALL* write)(void* handle, void* bytes, std::uint32_t count,
                                   std::uint32_t* written) = nullptr;
  // Releases the device so that a later open can take it again.
  DeviceStatus(DRIVER_CALL* close)(void* handle) = nullptr;
  // Sets how long a read and a write on the open device may wait, in milliseconds; null when
  // the library lacks the call. Without it a write to a chip that takes nothing may never return.
  DeviceStatus(DRIVER_CALL* set_timeouts)(void* handle, std::uint32_t read_ms,
                                          std::uint32_t write_ms) = nullptr;
  // Whether the machine shows no USB device at all, where the library crashes if asked to open
  // one; null where asking is safe.
  bool (*usb_missing)() = nullptr;
  // The file of the library the calls reach, as it was loaded.
  std::string library;
  library_kind kind = library_kind::vendor;
  // Why a library preferred to this one was passed over; empty when none was.
  std::string passed_over;
  // The library's own words on why the last write on `handle`, or with none the last open,
  // failed; empty when it has none. Null for a library without words of its own.
  std::string (*failure_words)(void* handle) = nullptr;
};

// The calls of the system's driver library: FTDI's D2XX library, or on systems that offer one, a
// fallback when it is missing. The library is loaded on first use rather than at start-up, so
// the menu works on a machine without it, and stays loaded for the rest of the run. Null when no
// library loads with all its calls, with `why` naming each library tried and why it failed; a
// failed load is tried again on the next call, so a library installed meanwhile is found.
const driver_calls* load_driver(std::string& why);

}  // namespace brevinmarquest::platform

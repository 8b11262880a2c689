#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_status.h"

namespace brevinmarquest::platform {

// The kinds of library a device is reached through; their failures have different causes.
enum class library_kind : std::uint8_t { vendor, libftdi };

// The three calls a link makes into a driver, bound all at once. Each is handed `state` back,
// so a driver needs no globals.
struct driver_calls {
  // Shared by the three calls below; owned by whoever filled in this table.
  void* state;
  // Opens device `index`. On 0, *handle is valid until close; otherwise there is nothing to close.
  DeviceStatus (*open_by_index)(void* state, std::int32_t index, void** handle);
  // Writes `count` bytes and blocks until done. Fills in *written on every call, success or not.
  DeviceStatus (*write)(void* state, void* handle, unsigned char* bytes, std::uint32_t count,
                        std::uint32_t* written);
  // Releases the device so that a later open can take it again.
  DeviceStatus (*close)(void* state, void* handle);
  // The file name of the library these calls reach; valid as long as the table.
  const char* library;
  // Which kind of library that is.
  library_kind kind;
  // Why a library preferred to this one was passed over; empty when none was. Valid as long as
  // the table.
  const char* passed_over;
  // The library's own words on why the last open failed; null when the library has none.
  std::string (*last_words)(void* state);
};

// The system's driver library: FTDI's D2XX library, or on systems that offer one, a fallback
// when it is missing. It is loaded on first use rather than at start-up, so the menu works on a
// machine without it, and unloaded when this object ends.
class driver_library {
 public:
  driver_library();
  ~driver_library();
  driver_library(const driver_library&) = delete;
  driver_library& operator=(const driver_library&) = delete;

  // Gives the bound calls, loading the library if it is not loaded yet. Gives null when no
  // library can be loaded with all its calls, with `why` naming each library tried and the
  // loader's reason.
  // A failed load is tried again on the next call, so a library installed meanwhile is found.
  const driver_calls* calls(std::string& why);

 private:
  struct loaded;
  std::unique_ptr<loaded> loaded_;
};

}  // namespace brevinmarquest::platform

#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace brevinmarquest::platform {

// What every driver call returns: 0 is success, anything else a failure code that is shown to
// the user and never interpreted.
using DeviceStatus = std::uint32_t;

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
  // Names the library these calls reach, and why any library preferred to it was passed over;
  // for the user's eyes, valid as long as the table.
  const char* library;
  // Plain words on the likely causes of the last open, which failed with `status`, and on their
  // fixes; empty when there is nothing to say beyond the status.
  std::string (*open_failure_advice)(void* state, DeviceStatus status);
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

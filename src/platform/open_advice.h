#pragma once
// The words for the user on a failed open, kept apart from the driver calls so that every
// library and every system speaks with one voice.

#include <cstdint>
#include <string>

#include "platform/driver_library.h"

namespace brevinmarquest::platform {

// The systems whose fixes differ.
enum class system_kind : std::uint8_t { linux_system, macos, windows };

// The udev rule that lets users at the machine reach the device, as this copy of the tool knows
// it.
struct udev_rule {
  // Where the rule lies.
  std::string path;
  // True when the tool runs installed, so that the rule is in place already.
  bool installed;
};

// What a user learns about an open that failed with a status.
struct open_advice {
  // The likely causes in a few words; empty when nothing is known beyond the status.
  std::string causes;
  // What to do, on one line; empty when there is nothing to suggest.
  std::string fix;
};

// The advice for an open through a library of `kind` on `system` that failed with `status`;
// `rule` is the udev rule to name on Linux.
open_advice advice_for(system_kind system, library_kind kind, DeviceStatus status,
                       const udev_rule& rule);

}  // namespace brevinmarquest::platform

#pragma once
// The words for the user on a failed open, kept apart from the driver calls so that every
// library and every system speaks with one voice.

#include <string>

#include "platform/driver_library.h"
#include "platform/system.h"

namespace brevinmarquest::platform {

// The step of the advice that names the udev rule that lets users at the machine reach the
// device, for a tool at `program`: an installed tool, one in a folder named bin, has the rule its
// install put beside it, where `present` finds it, and what is left depends on whether udev reads
// that prefix; a tool run from a build or copied elsewhere has the source tree's to install.
std::string udev_rule_step(const std::string& program, bool (*present)(const std::string& path));

// Whether the file at `path` can be read, as udev must read a rule.
bool rule_readable(const std::string& path);

struct open_advice {
  // The likely causes in a few words; empty when nothing is known beyond the status.
  std::string causes;
  // What to do, on one line; empty when there is nothing to suggest.
  std::string fix;
};

// What a status means, in the words of the vendor's names for its codes.
const char* status_words(DeviceStatus status);

// The advice for an open through a library of `kind` on `system` that failed with `status`, or
// was not asked for where the machine shows no USB device at all, to a user who is root or not.
open_advice advice_for(system_kind system, library_kind kind, DeviceStatus status, bool usb_missing,
                       const std::string& rule_step, bool as_root);

}  // namespace brevinmarquest::platform

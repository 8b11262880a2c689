#pragma once
// What the tool asks of the system it runs on, beside the driver library. One file per system
// answers.

#include <string>

#include "platform/open_advice.h"

namespace brevinmarquest::platform {

// The system the tool was built for.
system_kind running_system();

// The udev rule for this copy of the tool: where the install put it when the tool runs from its
// installed folder, and the source tree's when it runs from a build. It is decided by where the
// tool runs, never by what lies on the machine, so the advice is the same on every machine.
udev_rule this_udev_rule();

// From here until disarm_stop_signals, the user's stop (Ctrl-C, or SIGTERM) only sets a flag,
// so that a transfer can finish its write and close the device. A second stop ends the tool at
// once. A stop that the system was told to ignore stays ignored.
void arm_stop_signals();

// Gives the stop signals back to the system, which ends the tool on them again.
void disarm_stop_signals();

// The signal number of the stop that came while armed, or 0; it stays set.
int stop_signal();

}  // namespace brevinmarquest::platform

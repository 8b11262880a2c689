#pragma once
// What the tool asks of the system it runs on, beside the driver library. One file per system
// answers.

#include "platform/open_advice.h"

namespace brevinmarquest::platform {

system_kind running_system();

// The udev rule for this copy of the tool, decided by where the tool runs, never by what lies on
// the machine, so the advice is the same on every machine: an installed tool (one in a folder
// named bin) names the rule its install put beside it, one run from a build the source tree's.
udev_rule this_udev_rule();

// From here until disarm_stop_signals, the user's stop (Ctrl-C, or SIGTERM) only sets a flag and
// ends standard input, so that a transfer can finish its write and close the device however
// late the stop comes. A second stop ends the tool at once. A stop that the system was told to
// ignore stays ignored.
void arm_stop_signals();

// Gives the stop signals back to the system, which ends the tool on them again.
void disarm_stop_signals();

// The signal number of the stop that came while armed, or 0; it stays set.
int stop_signal();

}  // namespace brevinmarquest::platform

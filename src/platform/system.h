#pragma once
// What the tool asks of the system it runs on, beside the driver library. One file per system
// answers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

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

// The console's two streams: the dialogue, and the explanations beside it.
enum class console_stream : std::uint8_t { output, diagnostics };

// What one write to the console gave.
struct console_write {
  // How many bytes of the text the console took.
  std::size_t taken = 0;
  // A stop cut the write short; what was not taken may be written again.
  bool interrupted = false;
  // The console is gone (closed, a broken pipe): nothing more reaches it.
  bool failed = false;
};

// Writes `text` to the console stream, in a single system call wherever the console takes the
// whole text at once. Lines end as the system's consoles expect them.
console_write write_console(console_stream stream, std::string_view text);

// The next byte of `input`, or EOF at its end or on a failure. The user's stop ends the wait.
int read_input(std::FILE* input);

// Whether a read of `file` can wait on something other than storage: a FIFO's writer, a
// terminal, a device.
bool reads_may_wait(std::FILE* file);

}  // namespace brevinmarquest::platform

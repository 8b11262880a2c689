#pragma once
// What the tool asks of the system it runs on, beside the driver library. One file per system
// answers.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace brevinmarquest::platform {

enum class system_kind : std::uint8_t { linux_system, macos, windows };

system_kind running_system();

// The file of this copy of the tool, where the system tells it; empty elsewhere.
std::string tool_path();

// Whether the tool runs as root, who needs no sudo.
bool running_as_root();

// Makes the standard streams safe to use before anything else opens a file: a closed one is
// opened onto the null device, so that no file the tool or a library opens takes its place, and a
// reader of standard output that goes away fails the next write instead of ending the tool.
void guard_standard_streams();

// From here until disarm_stop_signals, the user's stop (Ctrl-C, SIGTERM, or the hangup of the
// terminal) only sets a flag and ends every wait of the tool's own, so that a transfer can finish
// its write and close the device however late the stop comes. The first stop is the one
// reported; a second of the same kind ends the tool at once, saying so first. A stop that the
// system was told to ignore stays ignored.
void arm_stop_signals();

// Gives the stop signals back as they were before, so that they end the tool again.
void disarm_stop_signals();

// The signal number of the stop that came while armed, or 0; it stays set.
int stop_signal();

// The stop's name in the line that reports it.
const char* stop_name(int signal_number);

// Whether a write to the device is under way: a stop that comes meanwhile cannot end it, and the
// user hears at once that the tool waits for it.
void device_write_under_way(bool under_way);

// What a stop says at once, from its handler, while a write to the device is under way, and what
// a second stop says as it ends the tool. The line the console shows may still be open.
constexpr char stopping_after_write[] =
    "\nbrevinmarquest: stopping after the write under way, within its timeout; "
    "Ctrl-C again ends the tool now\n";
constexpr char ending_now[] =
    "\nbrevinmarquest: a second stop ends the tool now, and the device may be left open\n";

// The console's two streams: the dialogue, and the explanations beside it.
enum class console_stream : std::uint8_t { output, diagnostics };

// What one write to the console gave.
struct console_write {
  // How many bytes of the text the console took; fewer than all when a stop cut the write short.
  std::size_t taken = 0;
  // The console is gone (closed, a broken pipe): nothing more reaches it.
  bool failed = false;
  // The system's reason when it failed.
  std::string why;
};

// Writes `text`, or its start, to the console stream, in a single system call wherever the
// console takes the whole text at once. Lines end as the system's consoles expect them. A stop
// ends a wait for the console while the stops are armed.
console_write write_console(console_stream stream, std::string_view text);

// The next byte of `input`, or EOF at its end, on a failure, or once a stop came while the stops
// are armed: the stop ends the wait.
int read_input(std::FILE* input);

// Puts back `c`, the byte read last from `input`, for the next read_input to take.
void unread_input(int c, std::FILE* input);

// Whether a read of `file` can wait on something other than storage: a FIFO's writer, a
// terminal, a pipe. Such a file is read without the C library's buffer.
bool reads_may_wait(std::FILE* file);

// The next byte of `file`, one whose reads may wait, or EOF at its end, on a failure, or once a
// stop came while the stops are armed: the stop ends the wait.
int read_waiting_byte(std::FILE* file);

// Opens the file named `name`, as read from standard input, for reading its bytes; null when it
// cannot, with errno saying why. On Windows the name is taken as UTF-8, as a console is read, or
// failing that in the ANSI code page.
std::FILE* open_for_reading(const char* name);

}  // namespace brevinmarquest::platform

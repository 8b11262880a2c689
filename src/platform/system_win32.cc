// Windows: stops come as console control events, handled on a thread of their own.
#include <windows.h>

#include <csignal>
#include <string>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

// Ctrl-C and Ctrl-Break both count as the user's interrupt. A second one, and every other
// event, goes on to the system's handler, which ends the tool.
BOOL WINAPI note_stop(DWORD event) {
  if (stop_requested || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return FALSE;
  stop_requested = SIGINT;
  return TRUE;
}

}  // namespace

system_kind running_system() { return system_kind::windows; }

udev_rule this_udev_rule() { return {"", false}; }

void arm_stop_signals() { SetConsoleCtrlHandler(note_stop, TRUE); }

void disarm_stop_signals() { SetConsoleCtrlHandler(note_stop, FALSE); }

int stop_signal() { return stop_requested; }

}  // namespace brevinmarquest::platform

// Windows: stops come as console control events, handled on a thread of their own.
#include <windows.h>

#include <atomic>
#include <csignal>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

// Set on the handler's thread, read on the main one.
std::atomic<int> stop_requested{0};
std::atomic<bool> stop_seen{false};
HANDLE main_thread = nullptr;

// Ctrl-C and Ctrl-Break both count as the user's interrupt. A second one, and every other
// event, goes on to the system's handler, which ends the tool. The main thread may be waiting
// at a prompt, or about to: its reads are cancelled until it has seen the stop, for at most a
// second.
BOOL WINAPI note_stop(DWORD event) {
  if (stop_requested || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return FALSE;
  stop_requested = SIGINT;
  for (int tries = 0; tries < 100 && !stop_seen; ++tries) {
    CancelSynchronousIo(main_thread);
    Sleep(10);
  }
  return TRUE;
}

}  // namespace

system_kind running_system() { return system_kind::windows; }

std::string tool_path() { return ""; }

void arm_stop_signals() {
  if (!main_thread) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
  }
  SetConsoleCtrlHandler(note_stop, TRUE);
}

void disarm_stop_signals() { SetConsoleCtrlHandler(note_stop, FALSE); }

int stop_signal() {
  const int signal_number = stop_requested;
  if (signal_number) stop_seen = true;
  return signal_number;
}

}  // namespace brevinmarquest::platform

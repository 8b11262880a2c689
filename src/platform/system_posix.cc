// Linux and macOS: where the tool lives, and stop signals caught by sigaction.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <string>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

const int stop_signals[] = {SIGINT, SIGTERM};
struct sigaction previous_actions[sizeof stop_signals / sizeof stop_signals[0]];
bool armed[sizeof stop_signals / sizeof stop_signals[0]];

extern "C" void note_stop(int signal_number) { stop_requested = signal_number; }

// The folder the running program was started from; empty where the system does not say.
std::string running_folder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  const std::string program(path, static_cast<std::size_t>(length));
  return program.substr(0, program.rfind('/'));
}

}  // namespace

system_kind running_system() {
#ifdef __APPLE__
  return system_kind::macos;
#else
  return system_kind::linux_system;
#endif
}

udev_rule this_udev_rule() {
  if (running_folder() == BREVINMARQUEST_INSTALLED_BINDIR) {
    return {BREVINMARQUEST_INSTALLED_UDEV_RULE, true};
  }
  return {BREVINMARQUEST_SOURCE_UDEV_RULE, false};
}

// Without SA_RESTART a read blocked at a prompt returns, so hand entry can close the device;
// SA_RESETHAND lets a second stop end the tool even inside a driver call that never returns.
void arm_stop_signals() {
  struct sigaction action {};
  action.sa_handler = note_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (std::size_t i = 0; i < sizeof stop_signals / sizeof stop_signals[0]; ++i) {
    sigaction(stop_signals[i], nullptr, &previous_actions[i]);
    armed[i] = previous_actions[i].sa_handler != SIG_IGN;
    if (armed[i]) sigaction(stop_signals[i], &action, nullptr);
  }
}

void disarm_stop_signals() {
  for (std::size_t i = 0; i < sizeof stop_signals / sizeof stop_signals[0]; ++i) {
    if (armed[i]) sigaction(stop_signals[i], &previous_actions[i], nullptr);
    armed[i] = false;
  }
}

int stop_signal() { return stop_requested; }

}  // namespace brevinmarquest::platform

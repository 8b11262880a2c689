// Linux and macOS: where the tool lives, and stop signals caught by sigaction.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <string>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

constexpr int stop_signals[] = {SIGINT, SIGTERM};

// The read end of a pipe whose write end is closed: reading it finds the end of input at once.
int ended_input = -1;

// A stop may land after the dialogue last looked for one and before it starts to wait at a
// prompt; with standard input ended, that wait returns at once instead of never.
extern "C" void note_stop(int signal_number) {
  const int saved_errno = errno;
  // The user's first stop decides the line and the exit status; a later one of the other kind
  // only stops what is still waiting.
  if (!stop_requested) stop_requested = signal_number;
  dup2(ended_input, STDIN_FILENO);
  errno = saved_errno;
}

}  // namespace

system_kind running_system() {
#ifdef __APPLE__
  return system_kind::macos;
#else
  return system_kind::linux_system;
#endif
}

// Linux says it in /proc; elsewhere the tool counts as a build.
std::string tool_path() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return std::string(path, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// Without SA_RESTART a read or write under way at a prompt returns; SA_RESETHAND lets a second
// stop end the tool even inside a driver call that never returns.
void arm_stop_signals() {
  int ends[2];
  if (ended_input < 0 && pipe(ends) == 0) {
    close(ends[1]);
    ended_input = ends[0];
  }
  struct sigaction action {};
  action.sa_handler = note_stop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  // A stop that the system was told to ignore stays ignored.
  for (const int signal_number : stop_signals) {
    struct sigaction previous {};
    sigaction(signal_number, nullptr, &previous);
    if (previous.sa_handler != SIG_IGN) sigaction(signal_number, &action, nullptr);
  }
}

// A handler still in place was never called: the tool set none other, so the system's default
// comes back.
void disarm_stop_signals() {
  for (const int signal_number : stop_signals) {
    struct sigaction current {};
    sigaction(signal_number, nullptr, &current);
    if (current.sa_handler == note_stop) std::signal(signal_number, SIG_DFL);
  }
}

int stop_signal() { return stop_requested; }

console_write write_console(console_stream stream, std::string_view text) {
  const int fd = stream == console_stream::output ? STDOUT_FILENO : STDERR_FILENO;
  const ssize_t taken = write(fd, text.data(), text.size());
  if (taken >= 0) return {static_cast<std::size_t>(taken), false};
  // A write that a stop cut short took nothing; the stop is the caller's to see.
  if (errno == EINTR) return {0, false};
  if (errno != EAGAIN && errno != EWOULDBLOCK) return {0, true};
  // A console that another program made non-blocking is waited for as a blocking one would be.
  pollfd ready{fd, POLLOUT, 0};
  poll(&ready, 1, -1);
  return {0, false};
}

int read_input(std::FILE* input) { return std::getc(input); }

void unread_input(int c, std::FILE* input) { std::ungetc(c, input); }

bool reads_may_wait(std::FILE* file) {
  struct stat status {};
  const int fd = fileno(file);
  return fd >= 0 && fstat(fd, &status) == 0 && !S_ISREG(status.st_mode);
}

std::FILE* open_for_reading(const char* name) { return std::fopen(name, "rb"); }

}  // namespace brevinmarquest::platform

// Linux and macOS: where the tool lives, the stop signals, and the waits of the tool's own.
//
// A stop must never land between the tool's look for one and a wait that would then never end:
// as in ninja's subprocess-posix.cc, the stop signals are held from that look until pselect,
// which lets them in atomically for as long as it waits. Every wait of the tool's own (standard
// input, a file that can wait, a console that can) is such a pselect, followed by a read or write
// that cannot block.
#include <signal.h>
#include <sys/select.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

volatile std::sig_atomic_t stop_requested = 0;
// One bit for each stop signal that came, so that a second of the same kind ends the tool.
volatile std::sig_atomic_t stops_seen = 0;
volatile std::sig_atomic_t device_writing = 0;
// Whether the tool catches the stops, from arm_stop_signals to disarm_stop_signals.
bool armed = false;
// A standard output closed at start is the null device now; nobody reads what goes there.
bool output_closed_at_start = false;

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
// What each stop signal did before the tool caught it, given back when it is disarmed.
struct sigaction before_arming[std::size(stop_signals)];

constexpr char stopping_after_write_by_signal[] =
    "\nbrevinmarquest: stopping after the write under way, within its timeout; the same signal "
    "again ends the tool now\n";

// A signal handler may only write a fixed text; if standard error cannot take it, nothing can.
void say_at_once(std::string_view text) {
  [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text.data(), text.size());
}

extern "C" void note_stop(int signal_number) {
  const int seen = 1 << signal_number;
  if (stops_seen & seen) {
    say_at_once(ending_now);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  stops_seen = stops_seen | seen;
  // The user's first stop decides the line and the exit status; a later one of another kind
  // only stops what is still waiting.
  if (stop_requested) return;
  stop_requested = signal_number;
  if (device_writing) {
    say_at_once(signal_number == SIGINT ? stopping_after_write : stopping_after_write_by_signal);
  }
}

sigset_t stop_set() {
  sigset_t stops;
  sigemptyset(&stops);
  for (const int signal_number : stop_signals) sigaddset(&stops, signal_number);
  return stops;
}

// Says on standard error that a call the tool relies on failed, with the system's reason.
void report_failure(const char* what) {
  std::fprintf(stderr, "brevinmarquest: %s: %s\n", what, std::strerror(errno));
}

// From its making to its end the stop signals are held back, so that a look for a stop and the
// wait after it cannot be split: only the wait lets them in.
class stops_held {
 public:
  stops_held() {
    const sigset_t stops = stop_set();
    sigprocmask(SIG_BLOCK, &stops, &let_in_);
  }
  stops_held(const stops_held&) = delete;
  stops_held& operator=(const stops_held&) = delete;
  ~stops_held() { sigprocmask(SIG_SETMASK, &let_in_, nullptr); }

  // Waits until `fd` can be read (or written) without blocking. False when, while the stops are
  // armed, one came before that.
  bool wait_until_ready(int fd, bool for_writing) const {
    for (;;) {
      if (armed && stop_requested) return false;
      // Descriptors past select's limit are never the tool's: it holds only a few.
      if (fd >= FD_SETSIZE) return true;
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(fd, &ready);
      const int result = pselect(fd + 1, for_writing ? nullptr : &ready,
                                 for_writing ? &ready : nullptr, nullptr, nullptr, &let_in_);
      // A failed wait shows in the read or write that follows it.
      if (result >= 0 || errno != EINTR) return true;
    }
  }

 private:
  sigset_t let_in_;
};

// Whether reading or writing `fd` can wait on something other than storage: a pipe, a socket,
// a terminal. /dev/null and files never make the tool wait.
bool may_wait(int fd) {
  struct stat status {};
  return fd >= 0 && fstat(fd, &status) == 0 &&
         (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || isatty(fd));
}

// Standard input that can wait is read past the C library's buffer, so that the one wait is the
// tool's own pselect. It is read for the whole run, so its buffer lives as long.
struct typed_input {
  char bytes[1 << 16];
  std::size_t next = 0;
  std::size_t end = 0;
  bool ended = false;
};
typed_input typed;

bool typed_input_waits(std::FILE* input) {
  static const bool standard_input_waits = may_wait(STDIN_FILENO);
  return input == stdin && standard_input_waits;
}

int next_typed_byte() {
  if (typed.next == typed.end && !typed.ended) {
    const stops_held held;
    if (!held.wait_until_ready(STDIN_FILENO, false)) return EOF;
    const ssize_t count = read(STDIN_FILENO, typed.bytes, sizeof typed.bytes);
    typed.next = 0;
    typed.end = count > 0 ? static_cast<std::size_t>(count) : 0;
    typed.ended = count == 0 || (count < 0 && errno != EINTR);
  }
  if (typed.next == typed.end) return EOF;
  return static_cast<unsigned char>(typed.bytes[typed.next++]);
}

console_write write_now(int fd, std::string_view text) {
  const ssize_t taken = write(fd, text.data(), text.size());
  if (taken >= 0) return {static_cast<std::size_t>(taken), false, {}};
  // A write that a stop cut short, or one to a console that another program made non-blocking,
  // took nothing yet; the caller tries again or sees the stop.
  if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return {0, false, {}};
  return {0, true, std::strerror(errno)};
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

bool running_as_root() { return geteuid() == 0; }

void guard_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    output_closed_at_start = output_closed_at_start || fd == STDOUT_FILENO;
    // The lowest free descriptor is this one: those below it are open.
    open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
  }
  std::signal(SIGPIPE, SIG_IGN);
}

// The handler runs with every stop held, so that the stops it notes cannot be mixed up.
void arm_stop_signals() {
  struct sigaction action {};
  action.sa_handler = note_stop;
  action.sa_mask = stop_set();
  for (std::size_t i = 0; i < std::size(stop_signals); ++i) {
    struct sigaction& previous = before_arming[i];
    // A stop that the system was told to ignore stays ignored.
    if (sigaction(stop_signals[i], nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    if (sigaction(stop_signals[i], &action, nullptr) != 0) {
      report_failure("cannot catch a stop, which will end the tool with the device open");
    }
  }
  armed = true;
}

void disarm_stop_signals() {
  armed = false;
  for (std::size_t i = 0; i < std::size(stop_signals); ++i) {
    sigaction(stop_signals[i], &before_arming[i], nullptr);
  }
}

int stop_signal() { return stop_requested; }

const char* stop_name(int signal_number) {
  if (signal_number == SIGHUP) return "SIGHUP";
  return signal_number == SIGTERM ? "SIGTERM" : "SIGINT";
}

void device_write_under_way(bool under_way) { device_writing = under_way; }

console_write write_console(console_stream stream, std::string_view text) {
  const int fd = stream == console_stream::output ? STDOUT_FILENO : STDERR_FILENO;
  if (fd == STDOUT_FILENO && output_closed_at_start) return {0, true, std::strerror(EBADF)};
  static const bool waits[] = {may_wait(STDOUT_FILENO), may_wait(STDERR_FILENO)};
  if (!waits[fd - STDOUT_FILENO]) return write_now(fd, text);
  const stops_held held;
  if (!held.wait_until_ready(fd, true)) return {0, false, {}};
  // Once it is ready, a pipe takes this much without waiting again.
  return write_now(fd, text.substr(0, PIPE_BUF));
}

int read_input(std::FILE* input) {
  return typed_input_waits(input) ? next_typed_byte() : std::getc(input);
}

void unread_input(int c, std::FILE* input) {
  if (typed_input_waits(input)) {
    --typed.next;
  } else {
    std::ungetc(c, input);
  }
}

bool reads_may_wait(std::FILE* file) { return may_wait(fileno(file)); }

int read_waiting_byte(std::FILE* file) {
  const stops_held held;
  return held.wait_until_ready(fileno(file), false) ? std::getc(file) : EOF;
}

std::FILE* open_for_reading(const char* name) { return std::fopen(name, "rb"); }

}  // namespace brevinmarquest::platform

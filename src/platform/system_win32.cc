// Windows: stops come as console control events, handled on a thread of their own.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <string>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

// Set on the handler's thread, read on the main one.
std::atomic<int> stop_requested{0};
std::atomic<bool> stop_seen{false};
// True while the main thread waits for standard input: the one wait that a stop cancels.
std::atomic<bool> reading_input{false};
HANDLE main_thread = nullptr;
// Set with the stop, for a wait that no cancel reaches.
HANDLE stop_event = nullptr;

// Ctrl-C and Ctrl-Break both count as the user's interrupt. A second one, and every other
// event, goes on to the system's handler, which ends the tool. The main thread may be waiting
// for input, or about to: that wait is cancelled, for at most a second, until the main thread
// has seen the stop. Its console writes are left alone, since a cancelled one would be lost;
// one cut short by a cancel that comes just as a read ends is written again.
BOOL WINAPI note_stop(DWORD event) {
  if (stop_requested || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return FALSE;
  stop_requested = SIGINT;
  SetEvent(stop_event);
  for (int tries = 0; tries < 100 && !stop_seen; ++tries) {
    if (reading_input) CancelSynchronousIo(main_thread);
    Sleep(10);
  }
  return TRUE;
}

// The text with each line ending in CR LF, as Windows consoles and programs expect.
std::string with_crlf(std::string_view text) {
  std::string converted;
  converted.reserve(text.size() + 8);
  for (const char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

HANDLE handle_of(std::FILE* file) {
  const int fd = _fileno(file);
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Asked once per handle: under wine each answer is a round trip to its server, and standard
// input is read a byte at a time.
bool is_pipe(HANDLE file) {
  static HANDLE known = INVALID_HANDLE_VALUE;
  static bool pipe = false;
  if (file != known) {
    known = file;
    pipe = GetFileType(file) == FILE_TYPE_PIPE;
  }
  return pipe;
}

// Bytes of a pipe on standard input, read ahead of the dialogue. Under wine no cancel reaches
// a read of a pipe, so the reads are made by a thread of their own, which a stop leaves waiting.
struct pipe_reader {
  HANDLE pipe = nullptr;
  HANDLE thread = nullptr;
  // Auto-reset: the dialogue wants bytes; the thread has read them.
  HANDLE wanted = nullptr;
  HANDLE filled = nullptr;
  char bytes[1 << 16];
  DWORD next = 0;
  DWORD end = 0;
  bool ended = false;
};
pipe_reader piped;

DWORD WINAPI keep_filling(void* reader) {
  auto& r = *static_cast<pipe_reader*>(reader);
  while (WaitForSingleObject(r.wanted, INFINITE) == WAIT_OBJECT_0) {
    DWORD count = 0;
    r.ended = !ReadFile(r.pipe, r.bytes, sizeof r.bytes, &count, nullptr) || count == 0;
    r.next = 0;
    r.end = count;
    SetEvent(r.filled);
  }
  return 0;
}

bool start_pipe_reader(HANDLE pipe) {
  piped.pipe = pipe;
  piped.wanted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  piped.filled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (piped.wanted && piped.filled) {
    piped.thread = CreateThread(nullptr, 0, keep_filling, &piped, 0, nullptr);
  }
  return piped.thread != nullptr;
}

// The next byte of the pipe, or EOF at its end or once a stop came while it was awaited.
int next_from_pipe(HANDLE pipe) {
  if (piped.next == piped.end && !piped.ended) {
    if (!piped.thread && !start_pipe_reader(pipe)) return EOF;
    SetEvent(piped.wanted);
    const HANDLE waits[] = {piped.filled, stop_event};
    if (WaitForMultipleObjects(stop_event ? 2 : 1, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      return EOF;
    }
  }
  return piped.next < piped.end ? static_cast<unsigned char>(piped.bytes[piped.next++]) : EOF;
}

}  // namespace

system_kind running_system() { return system_kind::windows; }

std::string tool_path() { return ""; }

void arm_stop_signals() {
  if (!main_thread) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  SetConsoleCtrlHandler(note_stop, TRUE);
}

void disarm_stop_signals() { SetConsoleCtrlHandler(note_stop, FALSE); }

int stop_signal() {
  const int signal_number = stop_requested;
  if (signal_number) stop_seen = true;
  return signal_number;
}

console_write write_console(console_stream stream, std::string_view text) {
  const HANDLE console =
      GetStdHandle(stream == console_stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (console == INVALID_HANDLE_VALUE || console == nullptr) return {0, false, true};
  const std::string converted = with_crlf(text);
  std::size_t written = 0;
  while (written < converted.size()) {
    DWORD count = 0;
    const BOOL done = WriteFile(console, converted.data() + written,
                                static_cast<DWORD>(converted.size() - written), &count, nullptr);
    written += count;
    // A console that is gone takes nothing more; how much of this text it took no longer matters.
    if (!done && GetLastError() != ERROR_OPERATION_ABORTED) return {0, false, true};
  }
  return {text.size(), false, false};
}

// The flag is raised before the stop is looked at, and the handler raises the stop before it
// looks at the flag, so a stop either keeps the read from starting or sees it and cancels it.
int read_input(std::FILE* input) {
  reading_input = true;
  const HANDLE file = handle_of(input);
  const bool from_pipe = is_pipe(file);
  const int c = stop_requested ? EOF : from_pipe ? next_from_pipe(file) : std::getc(input);
  reading_input = false;
  return c;
}

void unread_input(int c, std::FILE* input) {
  if (is_pipe(handle_of(input)) && piped.next > 0) {
    --piped.next;
  } else {
    std::ungetc(c, input);
  }
}

bool reads_may_wait(std::FILE* file) {
  const HANDLE handle = handle_of(file);
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK;
}

}  // namespace brevinmarquest::platform

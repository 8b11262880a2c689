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
// Set with the stop; ends the wait for standard input.
const HANDLE stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);

// Ctrl-C and Ctrl-Break both count as the user's interrupt. A second one, and every other
// event, goes on to the system's handler, which ends the tool.
BOOL WINAPI note_stop(DWORD event) {
  if (stop_requested || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return FALSE;
  stop_requested = SIGINT;
  SetEvent(stop_event);
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

// Asked again only for another handle: under wine each answer is a round trip to its server, and
// standard input is read a byte at a time.
bool may_wait(HANDLE file) {
  static HANDLE known = INVALID_HANDLE_VALUE;
  static bool waits = false;
  if (file != known) {
    known = file;
    waits = file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK;
  }
  return waits;
}

// Standard input that can wait (a console, a pipe) is read by a thread of its own, which a stop
// leaves waiting: no cancel reaches a read of a pipe under wine, nor one the C runtime makes.
struct input_reader {
  HANDLE file = nullptr;
  HANDLE thread = nullptr;
  // Auto-reset: the dialogue wants bytes; the thread has read them.
  HANDLE wanted = nullptr;
  HANDLE filled = nullptr;
  // A size every console accepts for one read; some refuse 64 KiB.
  char bytes[8192];
  DWORD next = 0;
  DWORD end = 0;
  bool ended = false;
};
input_reader reader;

// One read of standard input: how many bytes it gave, 0 at its end or on a failure.
DWORD read_some() {
  for (;;) {
    DWORD count = 0;
    SetLastError(ERROR_SUCCESS);
    const BOOL read = ReadFile(reader.file, reader.bytes, sizeof reader.bytes, &count, nullptr);
    if (!read || count > 0 || GetLastError() != ERROR_OPERATION_ABORTED) return read ? count : 0;
    // Ctrl-C cut a console's read short, before its handler ran on a thread of its own: that is
    // no end of input. The stop reaches the dialogue through stop_event, or ends the tool; the
    // line is read again, after a pause that keeps this loop from spinning meanwhile.
    WaitForSingleObject(stop_event, 100);
  }
}

DWORD WINAPI keep_reading(void* /*unused*/) {
  while (WaitForSingleObject(reader.wanted, INFINITE) == WAIT_OBJECT_0) {
    const DWORD count = read_some();
    reader.ended = count == 0;
    reader.next = 0;
    reader.end = count;
    SetEvent(reader.filled);
  }
  return 0;
}

bool start_reader(HANDLE file) {
  reader.file = file;
  reader.wanted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  reader.filled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (reader.wanted && reader.filled) {
    reader.thread = CreateThread(nullptr, 0, keep_reading, nullptr, 0, nullptr);
  }
  return reader.thread != nullptr;
}

// The next byte the thread read, or EOF at the end of input or once a stop came while it was
// awaited. Ctrl-Z ends the input, as it does for the C runtime's text streams.
int next_from_reader(HANDLE file) {
  if (reader.next == reader.end && !reader.ended) {
    if (!reader.thread && !start_reader(file)) return EOF;
    SetEvent(reader.wanted);
    const HANDLE waits[] = {reader.filled, stop_event};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) return EOF;
  }
  if (reader.next == reader.end || reader.bytes[reader.next] == '\x1a') {
    reader.ended = true;
    return EOF;
  }
  return static_cast<unsigned char>(reader.bytes[reader.next++]);
}

}  // namespace

system_kind running_system() { return system_kind::windows; }

std::string tool_path() { return ""; }

void arm_stop_signals() { SetConsoleCtrlHandler(note_stop, TRUE); }

void disarm_stop_signals() { SetConsoleCtrlHandler(note_stop, FALSE); }

int stop_signal() { return stop_requested; }

console_write write_console(console_stream stream, std::string_view text) {
  const HANDLE console =
      GetStdHandle(stream == console_stream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  const std::string converted = with_crlf(text);
  DWORD count = 0;
  // A console that is gone takes nothing more; how much of this text it took no longer matters.
  if (!WriteFile(console, converted.data(), static_cast<DWORD>(converted.size()), &count,
                 nullptr)) {
    return {0, true};
  }
  return {text.size(), false};
}

int read_input(std::FILE* input) {
  if (stop_requested) return EOF;
  const HANDLE file = handle_of(input);
  return may_wait(file) ? next_from_reader(file) : std::getc(input);
}

void unread_input(int c, std::FILE* input) {
  if (may_wait(handle_of(input))) {
    --reader.next;
  } else {
    std::ungetc(c, input);
  }
}

bool reads_may_wait(std::FILE* file) { return may_wait(handle_of(file)); }

}  // namespace brevinmarquest::platform

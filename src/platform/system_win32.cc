// Windows: stops come as console control events, handled on a thread of their own. Text is UTF-8
// inside the tool; a console is read and written in UTF-16 and files are opened by UTF-16 names,
// so that a name typed with any letters opens that file whatever the code pages.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <csignal>
#include <iterator>
#include <string>

#include "platform/system.h"

namespace brevinmarquest::platform {
namespace {

// Set on the handler's thread, read on the main one.
std::atomic<int> stop_requested{0};
// Set with the stop; ends the wait for standard input. Made with the thread that reads it.
std::atomic<HANDLE> stop_event{nullptr};
std::atomic<bool> device_writing{false};

// Ctrl-C and Ctrl-Break both count as the user's interrupt. A second one, and every other
// event, goes on to the system's handler, which ends the tool.
BOOL WINAPI note_stop(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (stop_requested) {
    write_console(console_stream::diagnostics, ending_now);
    return FALSE;
  }
  stop_requested = SIGINT;
  SetEvent(stop_event);
  if (device_writing) write_console(console_stream::diagnostics, stopping_after_write);
  return TRUE;
}

// `text` in UTF-16. Text that is not UTF-8 is taken in the ANSI code page, as the system's narrow
// calls take it: a script written in it works as it did before names were read as UTF-8.
std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  UINT page = CP_UTF8;
  int length = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length == 0) {
    page = CP_ACP;
    length = MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0);
  }
  std::wstring converted(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(page, 0, text.data(), size, converted.data(), length);
  return converted;
}

// Whether `file` is a console, which takes and gives every letter only in UTF-16.
bool is_console(HANDLE file) {
  DWORD mode = 0;
  return GetConsoleMode(file, &mode) != 0;
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

// Writes `text` in one call: to a console in UTF-16, which it shows whatever its code page, to
// anything else as the bytes they are. False once the file is gone.
bool write_whole(HANDLE file, bool console, const std::string& text) {
  DWORD count = 0;
  if (console) {
    const std::wstring letters = wide(text);
    return WriteConsoleW(file, letters.data(), static_cast<DWORD>(letters.size()), &count,
                         nullptr) != 0;
  }
  return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &count, nullptr) != 0;
}

HANDLE handle_of(std::FILE* file) {
  const int fd = _fileno(file);
  return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Asked anew each time: Windows reuses handle values, so an answer kept for one handle could be
// taken for a file opened later.
bool may_wait(HANDLE file) {
  return file != INVALID_HANDLE_VALUE && GetFileType(file) != FILE_TYPE_DISK;
}

// Standard input that can wait (a console, a pipe) is read by a thread of its own, which a stop
// leaves waiting: no cancel reaches a read of a pipe under wine, nor one the C runtime makes.
struct input_reader {
  HANDLE file = nullptr;
  bool console = false;
  // Auto-reset: the dialogue wants bytes; the thread has read them.
  HANDLE wanted = nullptr;
  HANDLE filled = nullptr;
  // A size every console accepts for one read; some refuse 64 KiB. A console's UTF-16 unit
  // takes at most three bytes in UTF-8.
  char bytes[8192];
  wchar_t typed[sizeof bytes / 3];
  DWORD next = 0;
  DWORD end = 0;
  bool ended = false;
};
input_reader reader;

// One read of standard input into reader.bytes: how many bytes it gave, 0 at its end or on a
// failure. A console is read in UTF-16, the one form in which every console gives every letter.
DWORD read_some() {
  DWORD count = 0;
  if (!reader.console) {
    return ReadFile(reader.file, reader.bytes, sizeof reader.bytes, &count, nullptr) ? count : 0;
  }
  const DWORD units = static_cast<DWORD>(std::size(reader.typed));
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    if (!ReadConsoleW(reader.file, reader.typed, units, &count, nullptr)) return 0;
    if (count > 0) {
      return static_cast<DWORD>(WideCharToMultiByte(CP_UTF8, 0, reader.typed,
                                                    static_cast<int>(count), reader.bytes,
                                                    sizeof reader.bytes, nullptr, nullptr));
    }
    if (GetLastError() != ERROR_OPERATION_ABORTED) return 0;
    // Ctrl-C cut the read short, before its handler ran on a thread of its own: that is no end of
    // input. The stop reaches the dialogue through stop_event, or ends the tool; the line is read
    // again, after a pause that keeps this loop from spinning meanwhile.
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

// Says on standard error what failed that never should, with the system's error number.
void report_failure(const char* what) {
  const DWORD error = GetLastError();
  write_console(console_stream::diagnostics, std::string("brevinmarquest: ") + what + " (error " +
                                                 std::to_string(error) + ")\n");
}

// Starts the thread that reads `file`. When it cannot, the C runtime reads it, which no stop
// interrupts.
bool start_reader(HANDLE file) {
  reader.file = file;
  reader.console = is_console(file);
  reader.wanted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  reader.filled = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const bool started = reader.wanted && reader.filled && stop_event &&
                       CreateThread(nullptr, 0, keep_reading, nullptr, 0, nullptr);
  if (!started) report_failure("a stop cannot end a wait for input: its reader did not start");
  return started;
}

// Whether `input` is read through the thread: only standard input, the one stream the dialogue
// reads, and only where it can wait. Decided once, at its first read: under wine each question
// is a round trip to its server, and standard input is read a byte at a time.
bool read_by_thread(std::FILE* input) {
  if (input != stdin) return false;
  static const bool started = may_wait(handle_of(stdin)) && start_reader(handle_of(stdin));
  return started;
}

// The next byte the thread read, or EOF at the end of input or once a stop came while it was
// awaited. Ctrl-Z ends the input, as it does for the C runtime's text streams.
int next_from_reader() {
  if (reader.next == reader.end && !reader.ended) {
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

bool running_as_root() { return false; }

// A missing standard handle is no number that a file opened later could take, and a pipe
// without a reader fails the write, with no signal.
void guard_standard_streams() {}

void arm_stop_signals() {
  if (!SetConsoleCtrlHandler(note_stop, TRUE)) {
    report_failure("Ctrl-C ends the tool at once: its handler could not be set");
  }
}

void disarm_stop_signals() { SetConsoleCtrlHandler(note_stop, FALSE); }

int stop_signal() { return stop_requested; }

const char* stop_name(int /*signal_number*/) { return "SIGINT"; }

void device_write_under_way(bool under_way) { device_writing = under_way; }

console_write write_console(console_stream stream, std::string_view text) {
  // Asked once per stream: each answer costs a system call, and a file is echoed byte by byte.
  static const HANDLE files[] = {GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
  static const bool consoles[] = {is_console(files[0]), is_console(files[1])};
  const int which = stream == console_stream::output ? 0 : 1;
  // A console that is gone takes nothing more; how much of this text it took no longer matters.
  if (!write_whole(files[which], consoles[which], with_crlf(text))) {
    return {0, true, "error " + std::to_string(GetLastError())};
  }
  return {text.size(), false, {}};
}

int read_input(std::FILE* input) {
  if (stop_requested) return EOF;
  return read_by_thread(input) ? next_from_reader() : std::getc(input);
}

void unread_input(int c, std::FILE* input) {
  if (read_by_thread(input)) {
    --reader.next;
  } else {
    std::ungetc(c, input);
  }
}

bool reads_may_wait(std::FILE* file) { return may_wait(handle_of(file)); }

int read_waiting_byte(std::FILE* file) { return std::getc(file); }

std::FILE* open_for_reading(const char* name) { return _wfopen(wide(name).c_str(), L"rb"); }

}  // namespace brevinmarquest::platform

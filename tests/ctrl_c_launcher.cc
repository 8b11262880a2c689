// Runs a Windows program and presses Ctrl-C on its console once a file appears, as a user at a
// console would: ctrl_c_launcher TRIGGER PROGRAM. The program gets this launcher's standard
// streams, and the launcher ends with its exit status. Under wine, a Ctrl-C reaches a program
// only from a process on the same console, so the launcher attaches to the program's own
// console, which has no window.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The standard stream `which` as a handle the program inherits.
HANDLE inheritable(DWORD which) {
  HANDLE handle = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), &handle, 0, TRUE,
                  DUPLICATE_SAME_ACCESS);
  return handle;
}

// The program's console exists only once the program has started; that takes wine a while.
bool attach_to_console_of(const PROCESS_INFORMATION& program) {
  FreeConsole();
  for (int tries = 0; tries < 1000; ++tries) {
    if (AttachConsole(program.dwProcessId)) return true;
    if (WaitForSingleObject(program.hProcess, 10) != WAIT_TIMEOUT) return false;
  }
  return false;
}

bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ctrl_c_launcher TRIGGER PROGRAM\n");
    return 2;
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inheritable(STD_INPUT_HANDLE);
  startup.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
  startup.hStdError = inheritable(STD_ERROR_HANDLE);
  std::string command = std::string("\"") + argv[2] + "\"";
  PROCESS_INFORMATION program{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &program)) {
    std::fprintf(stderr, "ctrl_c_launcher: cannot start %s (error %lu)\n", argv[2],
                 GetLastError());
    return 2;
  }
  // Only now: a program inherits whether Ctrl-C is ignored, and this one must not ignore it.
  SetConsoleCtrlHandler(nullptr, TRUE);
  if (attach_to_console_of(program)) {
    while (WaitForSingleObject(program.hProcess, 10) == WAIT_TIMEOUT) {
      if (exists(argv[1])) {
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        break;
      }
    }
  }
  WaitForSingleObject(program.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(program.hProcess, &status);
  return static_cast<int>(status);
}

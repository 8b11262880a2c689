#pragma once
// The one double for a session in memory: typed input, the console's two streams, named files
// and the fake driver as device 0.

#include <cstdio>
#include <map>
#include <string>

#include "console/main_menu.h"
#include "fake_driver.h"
#include "memory_file.h"

namespace brevinmarquest::testing {

// The stop a session's console write asks for, as a signal handler would note it.
inline int stop_signal = 0;

// The console write numbered `stopping_write` takes only `taken` bytes: a SIGINT cuts it short.
struct in_memory_session {
  fake_driver device;
  platform::driver_calls calls = device.calls();
  std::map<std::string, memory_file> files;
  std::string printed;
  std::string explained;
  // Standard error shares the console with standard output, as at a terminal.
  bool shared_console = false;
  int stopping_write = -1;
  std::size_t taken = 0;
  console c;
  session s;

  in_memory_session() {
    stop_signal = 0;
    c.io.stops.requested = [] { return stop_signal; };
    c.io.write = [this](platform::console_stream stream, std::string_view text) {
      if (stream == platform::console_stream::diagnostics && !shared_console) {
        explained.append(text);
      } else if (stopping_write-- == 0) {
        printed.append(text.substr(0, taken));
        stop_signal = 2;
        return platform::console_write{taken, false, {}};
      } else {
        printed.append(text);
      }
      return platform::console_write{text.size(), false, {}};
    };
    s.driver = [this](std::string&) { return &calls; };
    s.open_file = [this](const char* name) -> std::FILE* {
      const auto file = files.find(name);
      if (file == files.end()) return nullptr;
#ifdef __GLIBC__
      if (file->second.fails_at) return open_memory_file(file->second);
#endif
      return file_of(file->second.contents).release();
    };
  }
  in_memory_session(const in_memory_session&) = delete;
  in_memory_session& operator=(const in_memory_session&) = delete;

  // Plays a whole session on the typed input; gives its exit status.
  int play(const std::string& typed) {
    calls = device.calls();
    const file_ptr input = file_of(typed);
    c.io.input = input.get();
    return main_menu(s, c);
  }

  // All the console took, once it took everything owed.
  const std::string& shown() {
    show_all(c);
    return printed;
  }
};

}  // namespace brevinmarquest::testing

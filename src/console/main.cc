// The tool takes no arguments and reads no environment: everything comes through the dialogue.
#include <cstdio>
#include <string>

#include "console/main_menu.h"
#include "console/token_reader.h"
#include "platform/driver_library.h"
#include "platform/system.h"

int main() {
  namespace bm = brevinmarquest;
  bm::platform::driver_library library;
  const bm::session console{
      stdin,
      stdout,
      stderr,
      bm::standard_reading(),
      [&library](std::string& why) { return library.calls(why); },
      [](const char* name) { return std::fopen(name, "rb"); },
      {bm::platform::arm_stop_signals, bm::platform::disarm_stop_signals,
       bm::platform::stop_signal},
  };
  return bm::main_menu(console);
}

// The tool takes no arguments and reads no environment: everything comes through the dialogue.
#include <cstdio>

#include "console/main_menu.h"
#include "console/token_reader.h"
#include "platform/driver_library.h"
#include "platform/system.h"

int main() {
  namespace bm = brevinmarquest;
  bm::session console{};
  console.input = stdin;
  console.output = stdout;
  console.diagnostics = stderr;
  console.reading = bm::standard_reading();
  console.driver = bm::platform::load_driver;
  console.open_file = [](const char* name) { return std::fopen(name, "rb"); };
  console.stops.arm = bm::platform::arm_stop_signals;
  console.stops.disarm = bm::platform::disarm_stop_signals;
  console.stops.requested = bm::platform::stop_signal;
  return bm::main_menu(console);
}

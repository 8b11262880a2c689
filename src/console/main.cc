// The tool takes no arguments and reads no environment: everything comes through the dialogue.
#include <cstdio>

#include "console/main_menu.h"
#include "platform/driver_library.h"
#include "platform/system.h"

int main() {
  namespace bm = brevinmarquest;
  bm::platform::guard_standard_streams();
  bm::console c;
  c.io.input = stdin;
  c.io.write = bm::platform::write_console;
  c.io.stops = {bm::platform::arm_stop_signals, bm::platform::disarm_stop_signals,
                bm::platform::stop_signal};
  bm::session s;
  s.driver = bm::platform::load_driver;
  s.open_file = bm::platform::open_for_reading;
  return bm::main_menu(s, c);
}

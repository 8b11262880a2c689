// A stand-in for libftdi1 with its file name and the calls the tool makes, so that the tool's
// fallback runs end to end without hardware or the real library. It lists a number of devices
// with the default IDs and is set, like the simulated device, by environment variables read
// when the first context is made:
//
//   BREVINMARQUEST_SIM_RECEIVED        file that every byte written is appended to
//   BREVINMARQUEST_SIM_LOG             file that every call is logged to, one line each:
//                                      "open N" (N: the device's place in the list), "open R
//                                      failed", "write B", "close"
//   BREVINMARQUEST_SIM_FTDI_DEVICES    how many devices ftdi_usb_find_all lists (default 1)
//   BREVINMARQUEST_SIM_FTDI_OPEN       what ftdi_usb_open_dev returns (0, the default, opens)
//   BREVINMARQUEST_SIM_FAIL_WRITE      number N: the N-th ftdi_write_data call since loading
//                                      fails with -1
#include <algorithm>
#include <cstdio>

#include "sim/stand_in.h"

namespace {

constexpr long long max_devices = 8;

struct settings {
  std::FILE* received = nullptr;
  std::FILE* log = nullptr;
  long long devices = 1;
  long long open_result = 0;
  unsigned long long fail_write = 0;
};

struct state {
  bool configured = false;
  settings config;
  unsigned long long writes = 0;
  char devices[max_devices] = {};
};

state simulation;

}  // namespace

// Laid out as libftdi lays out the start of its list; the context is the stand-in's own.
struct ftdi_device_list {
  ftdi_device_list* next;
  // cppcheck-suppress unusedStructMember ; the tool reads it, through its own declaration
  void* dev;
};

struct ftdi_context {
  const char* error;
  int open_device;
};

namespace {

void configure() {
  if (simulation.configured) return;
  settings& config = simulation.config;
  config.received = stand_in::append_file("BREVINMARQUEST_SIM_RECEIVED");
  config.log = stand_in::append_file("BREVINMARQUEST_SIM_LOG");
  config.devices = stand_in::environment_number("BREVINMARQUEST_SIM_FTDI_DEVICES", 1);
  config.devices = std::min(config.devices, max_devices);
  config.open_result = stand_in::environment_number("BREVINMARQUEST_SIM_FTDI_OPEN", 0);
  config.fail_write = static_cast<unsigned long long>(
      stand_in::environment_number("BREVINMARQUEST_SIM_FAIL_WRITE", 0));
  simulation.configured = true;
}

constexpr int closed = -1;

}  // namespace

extern "C" {

ftdi_context* ftdi_new() {
  configure();
  return new ftdi_context{nullptr, closed};
}

void ftdi_free(ftdi_context* context) { delete context; }

int ftdi_usb_find_all(ftdi_context* /*context*/, ftdi_device_list** list, int vendor, int product) {
  *list = nullptr;
  if (vendor != 0 || product != 0) return 0;
  for (long long i = simulation.config.devices - 1; i >= 0; --i) {
    *list = new ftdi_device_list{*list, &simulation.devices[i]};
  }
  return static_cast<int>(simulation.config.devices);
}

void ftdi_list_free(ftdi_device_list** list) {
  while (*list) {
    ftdi_device_list* next = (*list)->next;
    delete *list;
    *list = next;
  }
}

int ftdi_usb_open_dev(ftdi_context* context, void* device) {
  if (simulation.config.open_result != 0) {
    stand_in::log_line(simulation.config.log, "open %lld failed\n", simulation.config.open_result);
    context->error = "simulated open failure";
    return static_cast<int>(simulation.config.open_result);
  }
  context->open_device = static_cast<int>(static_cast<char*>(device) - simulation.devices);
  stand_in::log_line(simulation.config.log, "open %d\n", context->open_device);
  return 0;
}

int ftdi_usb_close(ftdi_context* context) {
  if (context->open_device == closed) {
    stand_in::log_line(simulation.config.log, "close while closed\n");
    return -3;
  }
  stand_in::log_line(simulation.config.log, "close\n");
  context->open_device = closed;
  return 0;
}

int ftdi_write_data(ftdi_context* context, const unsigned char* bytes, int size) {
  if (context->open_device == closed) {
    stand_in::log_line(simulation.config.log, "write while closed\n");
    return -666;
  }
  for (int i = 0; i < size; ++i) stand_in::log_line(simulation.config.log, "write %u\n", bytes[i]);
  if (++simulation.writes == simulation.config.fail_write) {
    context->error = "usb bulk write failed";
    return -1;
  }
  if (simulation.config.received && size > 0) {
    std::fwrite(bytes, 1, static_cast<std::size_t>(size), simulation.config.received);
    std::fflush(simulation.config.received);
  }
  return size;
}

const char* ftdi_get_error_string(ftdi_context* context) { return context->error; }

}  // extern "C"

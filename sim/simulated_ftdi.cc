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
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int max_devices = 8;

struct settings {
  std::FILE* received = nullptr;
  std::FILE* log = nullptr;
  long devices = 1;
  long open_result = 0;
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

long number_from(const char* name, long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

std::FILE* append_file_from(const char* name) {
  const char* path = std::getenv(name);
  return path && *path ? std::fopen(path, "ab") : nullptr;
}

void configure() {
  if (simulation.configured) return;
  settings& config = simulation.config;
  config.received = append_file_from("BREVINMARQUEST_SIM_RECEIVED");
  config.log = append_file_from("BREVINMARQUEST_SIM_LOG");
  config.devices = number_from("BREVINMARQUEST_SIM_FTDI_DEVICES", 1);
  if (config.devices > max_devices) config.devices = max_devices;
  config.open_result = number_from("BREVINMARQUEST_SIM_FTDI_OPEN", 0);
  config.fail_write =
      static_cast<unsigned long long>(number_from("BREVINMARQUEST_SIM_FAIL_WRITE", 0));
  simulation.configured = true;
}

__attribute__((format(printf, 1, 2))) void log_call(const char* format, ...) {
  if (!simulation.config.log) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(simulation.config.log, format, arguments);
  va_end(arguments);
  std::fflush(simulation.config.log);
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
  for (long i = simulation.config.devices - 1; i >= 0; --i) {
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
    log_call("open %ld failed\n", simulation.config.open_result);
    context->error = "simulated open failure";
    return static_cast<int>(simulation.config.open_result);
  }
  context->open_device = static_cast<int>(static_cast<char*>(device) - simulation.devices);
  log_call("open %d\n", context->open_device);
  return 0;
}

int ftdi_usb_close(ftdi_context* context) {
  if (context->open_device == closed) {
    log_call("close while closed\n");
    return -3;
  }
  log_call("close\n");
  context->open_device = closed;
  return 0;
}

int ftdi_write_data(ftdi_context* context, const unsigned char* bytes, int size) {
  if (context->open_device == closed) {
    log_call("write while closed\n");
    return -666;
  }
  for (int i = 0; i < size; ++i) log_call("write %u\n", bytes[i]);
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

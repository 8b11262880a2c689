// The simulated device: a stand-in for the vendor's D2XX library with the same file name and the
// same three calls, so the real tool runs end to end without hardware. What it does is set by
// environment variables, read once when it is first opened:
//
//   BREVINMARQUEST_SIM_RECEIVED      file that every byte the device receives is appended to
//   BREVINMARQUEST_SIM_LOG           file that every call is logged to, one line each
//   BREVINMARQUEST_SIM_OPEN_STATUS   status FT_Open fails with (0, the default, opens)
//   BREVINMARQUEST_SIM_FAIL_WRITE    number N: the N-th write call since loading fails ...
//   BREVINMARQUEST_SIM_FAIL_STATUS   ... with this status (default 4, an I/O error) ...
//   BREVINMARQUEST_SIM_FAIL_WRITTEN  ... and reports this many bytes written (default 0)
//   BREVINMARQUEST_SIM_WRITE_DELAY_US  microseconds each write takes, as a real device does
//   BREVINMARQUEST_SIM_STALL_WRITE   number N: the N-th write call takes no byte and, as FTDI's
//                                    library does, returns status 0 once the write timeout set
//                                    with FT_SetTimeouts has passed (never, when none was set)
//
// Built with BREVINMARQUEST_SIM_LOOKS_LIKE_FTDI it also has FT_GetLibraryVersion, which only
// FTDI's own library has, so that the tool takes it for FTDI's.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "src/platform/device_status.h"

namespace {

// The number in environment variable `name`, or `fallback` when it is unset or empty.
long long environment_number(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

// The file named by environment variable `name`, opened for appending; null when it is unset.
std::FILE* append_file(const char* name) {
  const char* path = std::getenv(name);
  return path && *path ? std::fopen(path, "ab") : nullptr;
}

using brevinmarquest::platform::device_status::invalid_handle;
using brevinmarquest::platform::device_status::io_error;
using brevinmarquest::platform::device_status::ok;

struct settings {
  std::FILE* received = nullptr;
  std::FILE* log = nullptr;
  std::uint32_t open_status = ok;
  unsigned long long fail_write = 0;
  std::uint32_t fail_status = io_error;
  std::uint32_t fail_written = 0;
  long long write_delay_us = 0;
  unsigned long long stall_write = 0;
};

struct device_state {
  bool configured = false;
  settings config;
  bool open = false;
  unsigned long long writes = 0;
  int handle_target = 0;
  // FTDI's default: a write waits until the chip takes its bytes, however long that is.
  std::uint32_t write_timeout_ms = 0;
};

device_state device;

void configure() {
  if (device.configured) return;
  settings& config = device.config;
  config.received = append_file("BREVINMARQUEST_SIM_RECEIVED");
  config.log = append_file("BREVINMARQUEST_SIM_LOG");
  config.open_status =
      static_cast<std::uint32_t>(environment_number("BREVINMARQUEST_SIM_OPEN_STATUS", ok));
  config.fail_write =
      static_cast<unsigned long long>(environment_number("BREVINMARQUEST_SIM_FAIL_WRITE", 0));
  config.fail_status =
      static_cast<std::uint32_t>(environment_number("BREVINMARQUEST_SIM_FAIL_STATUS", io_error));
  config.fail_written =
      static_cast<std::uint32_t>(environment_number("BREVINMARQUEST_SIM_FAIL_WRITTEN", 0));
  config.write_delay_us = environment_number("BREVINMARQUEST_SIM_WRITE_DELAY_US", 0);
  config.stall_write =
      static_cast<unsigned long long>(environment_number("BREVINMARQUEST_SIM_STALL_WRITE", 0));
  device.configured = true;
}

// Adds one line to the call log, if there is one. Flushed at once, so the log survives a tool
// that is killed half-way; the transcript tests read it to check that every open was closed.
void log_line(const std::string& line) {
  if (!device.config.log) return;
  std::fputs((line + "\n").c_str(), device.config.log);
  std::fflush(device.config.log);
}

void receive(const unsigned char* bytes, std::uint32_t count) {
  if (!device.config.received || count == 0) return;
  std::fwrite(bytes, 1, count, device.config.received);
  std::fflush(device.config.received);
}

}  // namespace

extern "C" {

std::uint32_t DRIVER_CALL FT_Open(int index, void** handle) {
  configure();
  if (device.config.open_status != ok) {
    log_line("open " + std::to_string(device.config.open_status) + " failed");
    return device.config.open_status;
  }
  log_line("open " + std::to_string(index));
  device.open = true;
  device.write_timeout_ms = 0;
  *handle = &device.handle_target;
  return ok;
}

std::uint32_t DRIVER_CALL FT_Write(void* handle, void* buffer, std::uint32_t count,
                                std::uint32_t* written) {
  *written = 0;
  if (!device.open || handle != &device.handle_target) {
    log_line("write while closed");
    return invalid_handle;
  }
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  for (std::uint32_t i = 0; i < count; ++i) log_line("write " + std::to_string(bytes[i]));
  if (device.config.write_delay_us > 0) {
    std::this_thread::sleep_for(std::chrono::microseconds(device.config.write_delay_us));
  }
  ++device.writes;
  if (device.writes == device.config.stall_write) {
    // With no timeout set, a day stands for for ever.
    std::this_thread::sleep_for(device.write_timeout_ms
                                    ? std::chrono::milliseconds(device.write_timeout_ms)
                                    : std::chrono::hours(24));
    return ok;
  }
  if (device.writes == device.config.fail_write) {
    const std::uint32_t reported =
        device.config.fail_written < count ? device.config.fail_written : count;
    receive(bytes, reported);
    *written = device.config.fail_written;
    return device.config.fail_status;
  }
  receive(bytes, count);
  *written = count;
  return ok;
}

std::uint32_t DRIVER_CALL FT_Close(void* handle) {
  if (!device.open || handle != &device.handle_target) {
    log_line("close while closed");
    return invalid_handle;
  }
  log_line("close");
  device.open = false;
  return ok;
}

std::uint32_t DRIVER_CALL FT_SetTimeouts(void* handle, std::uint32_t /*read_ms*/,
                                        std::uint32_t write_ms) {
  if (!device.open || handle != &device.handle_target) return invalid_handle;
  device.write_timeout_ms = write_ms;
  return ok;
}

#ifdef BREVINMARQUEST_SIM_LOOKS_LIKE_FTDI
std::uint32_t DRIVER_CALL FT_GetLibraryVersion(std::uint32_t* version) {
  *version = 0x10424;
  return ok;
}
#endif

}  // extern "C"

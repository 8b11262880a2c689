#include "platform/libftdi_driver.h"

#include <cerrno>
#include <cstring>

namespace brevinmarquest::platform {
namespace {

constexpr int usual_ids = 0;

// libftdi's calls are free functions, so the driver that stands on them is one per process too.
const libftdi_functions* libftdi = nullptr;
std::string last_error;  // NOLINT(cert-err58-cpp): an empty string cannot throw

ftdi_context* context_of(void* handle) { return static_cast<ftdi_context*>(handle); }

// Keeps libftdi's words on the context's last error, to be shown with the failure.
void keep_words(ftdi_context* context) {
  const char* words = libftdi->ftdi_get_error_string(context);
  last_error = words ? words : "";
}

// Lists the devices with FTDI's usual IDs and opens the first, as device 0.
DeviceStatus DRIVER_CALL libftdi_open(std::int32_t /*index*/, void** handle) {
  last_error.clear();
  ftdi_context* context = libftdi->ftdi_new();
  if (!context) {
    last_error = "ftdi_new failed";
    return device_status::other_error;
  }
  ftdi_device_list* list = nullptr;
  const int found = libftdi->ftdi_usb_find_all(context, &list, usual_ids, usual_ids);
  DeviceStatus status = found < 0 ? device_status::other_error : device_status::device_not_found;
  if (found > 0) {
    const bool opened = libftdi->ftdi_usb_open_dev(context, list->dev) == 0;
    status = opened ? device_status::ok : device_status::device_not_opened;
  }
  libftdi->ftdi_list_free(&list);
  if (status == device_status::ok) {
    *handle = context;
  } else {
    keep_words(context);
    libftdi->ftdi_free(context);
  }
  return status;
}

// The tool writes one byte at a time, so a count never nears libftdi's int.
DeviceStatus DRIVER_CALL libftdi_write(void* handle, void* bytes, std::uint32_t count,
                                       std::uint32_t* written) {
  const int size = static_cast<int>(count);
  const int result =
      libftdi->ftdi_write_data(context_of(handle), static_cast<const unsigned char*>(bytes), size);
  *written = result > 0 ? static_cast<std::uint32_t>(result) : 0;
  if (*written == count) return device_status::ok;
  keep_words(context_of(handle));
  return device_status::io_error;
}

DeviceStatus DRIVER_CALL libftdi_close(void* handle) {
  const int result = libftdi->ftdi_usb_close(context_of(handle));
  libftdi->ftdi_free(context_of(handle));
  return result < 0 ? device_status::other_error : device_status::ok;
}

std::string libftdi_last_words() { return last_error; }

}  // namespace

driver_calls libftdi_calls(const libftdi_functions& functions) {
  libftdi = &functions;
  driver_calls calls;
  calls.open_by_index = libftdi_open;
  calls.write = libftdi_write;
  calls.close = libftdi_close;
  calls.kind = library_kind::libftdi;
  calls.last_words = libftdi_last_words;
  return calls;
}

std::string load_failure(const char* file, const std::string& reason) {
  const std::string name = file;
  if (reason == name + ": cannot open shared object file: " + std::strerror(ENOENT)) {
    return name + " is not installed";
  }
  return "cannot load " + name + ": " + reason;
}

}  // namespace brevinmarquest::platform

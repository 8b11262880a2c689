#include "platform/libftdi_driver.h"

#include <algorithm>
#include <climits>

namespace brevinmarquest::platform {
namespace {

constexpr int default_ids = 0;

libftdi_driver& driver_of(void* state) { return *static_cast<libftdi_driver*>(state); }

ftdi_context* context_of(void* handle) { return static_cast<ftdi_context*>(handle); }

std::string error_of(const libftdi_functions& functions, ftdi_context* context) {
  const char* words = functions.error_string(context);
  return words ? words : "";
}

libusb_device* listed_device(ftdi_device_list* list, std::int32_t index) {
  for (; list && index > 0; --index) list = list->next;
  return list ? list->dev : nullptr;
}

// Opens the device at `index` of the default-ID list, answering in the vendor's numbers.
DeviceStatus open_listed(libftdi_driver& driver, ftdi_context* context, std::int32_t index) {
  const libftdi_functions& functions = driver.functions;
  ftdi_device_list* list = nullptr;
  const int found = functions.find_all(context, &list, default_ids, default_ids);
  libusb_device* device = found > index && index >= 0 ? listed_device(list, index) : nullptr;
  DeviceStatus status = device_status::ok;
  if (found < 0) {
    status = device_status::other_error;
  } else if (!device) {
    status = device_status::device_not_found;
  } else if (functions.open_device(context, device) < 0) {
    status = device_status::device_not_opened;
  }
  if (status != device_status::ok) driver.last_error = error_of(functions, context);
  functions.free_list(&list);
  return status;
}

DeviceStatus libftdi_open(void* state, std::int32_t index, void** handle) {
  libftdi_driver& driver = driver_of(state);
  driver.last_error.clear();
  ftdi_context* context = driver.functions.new_context();
  if (!context) {
    driver.last_error = "ftdi_new failed";
    return device_status::other_error;
  }
  const DeviceStatus status = open_listed(driver, context, index);
  if (status != device_status::ok) {
    driver.functions.free_context(context);
    return status;
  }
  *handle = context;
  return device_status::ok;
}

DeviceStatus libftdi_write(void* state, void* handle, unsigned char* bytes, std::uint32_t count,
                           std::uint32_t* written) {
  const int size = static_cast<int>(std::min<std::uint32_t>(count, INT_MAX));
  const int result = driver_of(state).functions.write_data(context_of(handle), bytes, size);
  *written = result > 0 ? static_cast<std::uint32_t>(std::min(result, size)) : 0;
  return *written == count ? device_status::ok : device_status::io_error;
}

DeviceStatus libftdi_close(void* state, void* handle) {
  const libftdi_functions& functions = driver_of(state).functions;
  const int result = functions.close_device(context_of(handle));
  functions.free_context(context_of(handle));
  return result < 0 ? device_status::other_error : device_status::ok;
}

std::string libftdi_last_words(void* state) { return driver_of(state).last_error; }

}  // namespace

driver_calls libftdi_calls(libftdi_driver& driver, const char* library, const char* passed_over) {
  return {&driver, libftdi_open,          libftdi_write, libftdi_close,
          library, library_kind::libftdi, passed_over,   libftdi_last_words};
}

}  // namespace brevinmarquest::platform

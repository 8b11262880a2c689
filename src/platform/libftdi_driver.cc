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
  DeviceStatus status = ftdi_status::ok;
  if (found < 0) {
    status = ftdi_status::other_error;
  } else if (!device) {
    status = ftdi_status::device_not_found;
  } else if (functions.open_device(context, device) < 0) {
    status = ftdi_status::device_not_opened;
  }
  if (status != ftdi_status::ok) driver.last_error = error_of(functions, context);
  functions.free_list(&list);
  return status;
}

DeviceStatus libftdi_open(void* state, std::int32_t index, void** handle) {
  libftdi_driver& driver = driver_of(state);
  driver.last_error.clear();
  ftdi_context* context = driver.functions.new_context();
  if (!context) {
    driver.last_error = "ftdi_new failed";
    return ftdi_status::other_error;
  }
  const DeviceStatus status = open_listed(driver, context, index);
  if (status != ftdi_status::ok) {
    driver.functions.free_context(context);
    return status;
  }
  *handle = context;
  return ftdi_status::ok;
}

DeviceStatus libftdi_write(void* state, void* handle, unsigned char* bytes, std::uint32_t count,
                           std::uint32_t* written) {
  const int size = static_cast<int>(std::min<std::uint32_t>(count, INT_MAX));
  const int result = driver_of(state).functions.write_data(context_of(handle), bytes, size);
  *written = result > 0 ? static_cast<std::uint32_t>(std::min(result, size)) : 0;
  return *written == count ? ftdi_status::ok : ftdi_status::io_error;
}

DeviceStatus libftdi_close(void* state, void* handle) {
  const libftdi_functions& functions = driver_of(state).functions;
  const int result = functions.close_device(context_of(handle));
  functions.free_context(context_of(handle));
  return result < 0 ? ftdi_status::other_error : ftdi_status::ok;
}

std::string libftdi_advice(void* state, DeviceStatus status) {
  const std::string& error = driver_of(state).last_error;
  std::string causes = open_failure_causes(status);
  if (error.empty()) return causes;
  const std::string said = "libftdi says \"" + error + "\"";
  return causes.empty() ? said : said + "; " + causes;
}

}  // namespace

driver_calls libftdi_calls(libftdi_driver& driver, const char* library) {
  return {&driver, libftdi_open, libftdi_write, libftdi_close, library, libftdi_advice};
}

std::string open_failure_causes(DeviceStatus status) {
  const std::string fixes =
      "the system's serial driver may hold it (on Linux: sudo rmmod ftdi_sio), or you may lack "
      "permission on the USB device (on Linux: install udev/60-brevinmarquest.rules); see "
      "\"Using a real device\" in the README";
  if (status == ftdi_status::device_not_found) {
    return "no device found: plug the device in; if it is plugged in, " + fixes;
  }
  if (status == ftdi_status::device_not_opened) {
    return "the device was found but could not be opened: another program may use it, " + fixes;
  }
  return "";
}

}  // namespace brevinmarquest::platform

#include "platform/libftdi_driver.h"

namespace brevinmarquest::platform {
namespace {

constexpr int usual_ids = 0;

// The driver calls keep the vendor's signatures, which carry no context, so the driver that
// stands on libftdi's functions is one per process, as the functions are: they and libftdi's
// words on the last failed open, whose context is freed with it, are kept here.
const libftdi_functions* libftdi = nullptr;
std::string open_failure;  // NOLINT(cert-err58-cpp): an empty string cannot throw

ftdi_context* context_of(void* handle) { return static_cast<ftdi_context*>(handle); }

// libftdi's words on the context's last error.
std::string words_of(ftdi_context* context) {
  const char* words = libftdi->ftdi_get_error_string(context);
  return words ? words : "";
}

// Lists the devices with FTDI's usual IDs and opens the first, as device 0.
DeviceStatus DRIVER_CALL libftdi_open(std::int32_t /*index*/, void** handle) {
  open_failure.clear();
  ftdi_context* context = libftdi->ftdi_new();
  if (!context) {
    open_failure = "ftdi_new failed";
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
    open_failure = words_of(context);
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
  return *written == count ? device_status::ok : device_status::io_error;
}

DeviceStatus DRIVER_CALL libftdi_close(void* handle) {
  const int result = libftdi->ftdi_usb_close(context_of(handle));
  libftdi->ftdi_free(context_of(handle));
  return result < 0 ? device_status::other_error : device_status::ok;
}

std::string libftdi_failure_words(void* handle) {
  return handle ? words_of(context_of(handle)) : open_failure;
}

}  // namespace

driver_calls libftdi_calls(const libftdi_functions& functions) {
  libftdi = &functions;
  driver_calls calls;
  calls.open_by_index = libftdi_open;
  calls.write = libftdi_write;
  calls.close = libftdi_close;
  calls.kind = library_kind::libftdi;
  calls.failure_words = libftdi_failure_words;
  return calls;
}

}  // namespace brevinmarquest::platform

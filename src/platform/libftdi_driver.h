#pragma once
// What the systems with a dynamic loader (Linux, macOS) add to the driver: the open-source
// libftdi1 as a driver where the vendor's library is missing.

#include "platform/driver_library.h"

namespace brevinmarquest::platform {

// libftdi's and libusb's own records; the tool only passes pointers to them along.
struct ftdi_context;
struct libusb_device;

// One entry of the list that ftdi_usb_find_all gives, laid out as libftdi lays it out.
struct ftdi_device_list {
  ftdi_device_list* next;
  libusb_device* dev;
};

// The libftdi functions the tool calls, each held in the field of its name, with the signature
// libftdi publishes.
struct libftdi_functions {
  ftdi_context* (*ftdi_new)();
  void (*ftdi_free)(ftdi_context* context);
  int (*ftdi_usb_find_all)(ftdi_context* context, ftdi_device_list** list, int vendor, int product);
  void (*ftdi_list_free)(ftdi_device_list** list);
  int (*ftdi_usb_open_dev)(ftdi_context* context, libusb_device* device);
  int (*ftdi_usb_close)(ftdi_context* context);
  int (*ftdi_write_data)(ftdi_context* context, const unsigned char* bytes, int size);
  const char* (*ftdi_get_error_string)(ftdi_context* context);
};

// The driver calls over `functions`, which must outlive them. They open the first device that
// libftdi lists with FTDI's usual IDs, whatever index they are given.
driver_calls libftdi_calls(const libftdi_functions& functions);

}  // namespace brevinmarquest::platform

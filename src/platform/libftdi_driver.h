#pragma once
// The open-source libftdi1 as a driver, for systems without the vendor's library. It answers in
// the vendor's status numbers, so users and scripts see the same codes whichever library runs.

#include <string>

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

// The libftdi functions the tool calls, with their published signatures.
struct libftdi_functions {
  // ftdi_new: a fresh context, or null when libftdi or libusb cannot start.
  ftdi_context* (*new_context)();
  // ftdi_free: closes the context's device if open and releases the context.
  void (*free_context)(ftdi_context* context);
  // ftdi_usb_find_all: lists the devices with the IDs (0, 0 for FTDI's usual ones); the count or
  // a negative error.
  int (*find_all)(ftdi_context* context, ftdi_device_list** list, int vendor, int product);
  // ftdi_list_free: releases a list that find_all gave.
  void (*free_list)(ftdi_device_list** list);
  // ftdi_usb_open_dev: opens a listed device; 0 or a negative error.
  int (*open_device)(ftdi_context* context, libusb_device* device);
  // ftdi_usb_close: closes the context's device; 0 or a negative error.
  int (*close_device)(ftdi_context* context);
  // ftdi_write_data: the number of bytes written, or a negative error.
  int (*write_data)(ftdi_context* context, const unsigned char* bytes, int size);
  // ftdi_get_error_string: libftdi's words on the context's last error; may be null.
  const char* (*error_string)(ftdi_context* context);
};

// Why the loader could not load `file`: that it is not installed when the loader found no such
// file, or the loader's own `reason` (a wrong architecture, a library it needs that is missing).
std::string load_failure(const char* file, const std::string& reason);

// The driver calls over `functions`, which must outlive them. They open the first device that
// libftdi lists with FTDI's usual IDs, whatever index they are given.
driver_calls libftdi_calls(const libftdi_functions& functions);

}  // namespace brevinmarquest::platform

// Reaches a driver library on Linux and macOS through the dynamic loader, so that the loader's
// search path and LD_LIBRARY_PATH (DYLD_LIBRARY_PATH) decide which copy is used. The vendor's
// D2XX library comes first; libftdi1 stands in when the vendor's cannot be loaded.
#include <dlfcn.h>

#include <memory>
#include <string>

#include "platform/driver_library.h"
#include "platform/libftdi_driver.h"

namespace brevinmarquest::platform {
namespace {

struct module_closer {
  void operator()(void* module) const { dlclose(module); }
};
using module_ptr = std::unique_ptr<void, module_closer>;

// The loader's words on its last failure. dlsym can fail without any: a symbol may be null.
std::string loader_words() {
  const char* words = dlerror();
  return words ? words : "";
}

module_ptr load(const char* file, std::string& why) {
  module_ptr module(dlopen(file, RTLD_NOW | RTLD_LOCAL));
  if (!module) why = load_failure(file, loader_words());
  return module;
}

template <typename Function>
bool bind(void* module, const char* file, const char* name, Function& function, std::string& why) {
  void* address = dlsym(module, name);
  if (!address) {
    why = std::string(file) + " lacks " + name + ": " + loader_words();
    return false;
  }
  function = reinterpret_cast<Function>(address);
  return true;
}

bool load_vendor(module_ptr& module, driver_calls& calls, std::string& why) {
  const char* file = BREVINMARQUEST_VENDOR_LIBRARY;
  module = load(file, why);
  calls.library = file;
  return module && bind(module.get(), file, "FT_Open", calls.open_by_index, why) &&
         bind(module.get(), file, "FT_Write", calls.write, why) &&
         bind(module.get(), file, "FT_Close", calls.close, why);
}

// Each libftdi function is bound into the field of its own name.
#define BIND_LIBFTDI(name) bind(module.get(), file, #name, libftdi.name, why)

bool load_libftdi(module_ptr& module, libftdi_functions& libftdi, driver_calls& calls,
                  std::string& why) {
  const char* file = BREVINMARQUEST_LIBFTDI_LIBRARY;
  module = load(file, why);
  if (!module || !BIND_LIBFTDI(ftdi_new) || !BIND_LIBFTDI(ftdi_free) ||
      !BIND_LIBFTDI(ftdi_usb_find_all) || !BIND_LIBFTDI(ftdi_list_free) ||
      !BIND_LIBFTDI(ftdi_usb_open_dev) || !BIND_LIBFTDI(ftdi_usb_close) ||
      !BIND_LIBFTDI(ftdi_write_data) || !BIND_LIBFTDI(ftdi_get_error_string)) {
    return false;
  }
  calls = libftdi_calls(libftdi);
  calls.library = file;
  return true;
}

#undef BIND_LIBFTDI

}  // namespace

const driver_calls* load_driver(std::string& why) {
  static module_ptr module;
  static libftdi_functions libftdi;
  static driver_calls calls;
  if (module) return &calls;
  std::string vendor_why;
  std::string libftdi_why;
  if (load_vendor(module, calls, vendor_why)) return &calls;
  if (load_libftdi(module, libftdi, calls, libftdi_why)) {
    calls.passed_over = vendor_why;
    return &calls;
  }
  module.reset();
  why = vendor_why + "; " + libftdi_why;
  return nullptr;
}

}  // namespace brevinmarquest::platform

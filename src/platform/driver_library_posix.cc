// Reaches a driver library on Linux and macOS through the dynamic loader, so that the loader's
// search path and LD_LIBRARY_PATH (DYLD_LIBRARY_PATH) decide which copy is used. The vendor's
// D2XX library comes first; libftdi1 stands in when the vendor's cannot be loaded.
#include <dlfcn.h>

#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/driver_library.h"
#include "platform/libftdi_driver.h"
#include "platform/vendor_calls.h"

namespace brevinmarquest::platform {
namespace {

// The vendor's own signatures; its DWORD and ULONG are 32 bits wide on every system.
using ft_open_fn = DeviceStatus (*)(int index, void** handle);
using ft_write_fn = DeviceStatus (*)(void* handle, void* buffer, std::uint32_t count,
                                     std::uint32_t* written);
using ft_close_fn = DeviceStatus (*)(void* handle);

using ft_functions = vendor_functions<ft_open_fn, ft_write_fn, ft_close_fn>;

struct module_closer {
  void operator()(void* module) const { dlclose(module); }
};
using module_ptr = std::unique_ptr<void, module_closer>;

std::string loader_error() {
  const char* reason = dlerror();
  return reason ? reason : "unknown reason";
}

// One exported function and where its address goes.
template <typename Functions>
struct export_binding {
  const char* name;
  void (*store)(Functions& functions, void* address);
};

template <auto member, typename Functions>
void store(Functions& functions, void* address) {
  using Function = std::remove_reference_t<decltype(functions.*member)>;
  functions.*member = reinterpret_cast<Function>(address);
}

// Loads `file` and binds every function of `table`, or unloads it again and says why.
template <typename Functions, std::size_t count>
module_ptr load_bound(const char* file, const export_binding<Functions> (&table)[count],
                      Functions& functions, std::string& why) {
  dlerror();
  module_ptr module(dlopen(file, RTLD_NOW | RTLD_LOCAL));
  if (!module) {
    why = std::string("cannot load ") + file + ": " + loader_error();
    return nullptr;
  }
  for (const export_binding<Functions>& binding : table) {
    void* address = dlsym(module.get(), binding.name);
    if (!address) {
      why = std::string(file) + " lacks " + binding.name + ": " + loader_error();
      return nullptr;
    }
    binding.store(functions, address);
  }
  return module;
}

const export_binding<ft_functions> vendor_exports[] = {
    {"FT_Open", store<&ft_functions::open>},
    {"FT_Write", store<&ft_functions::write>},
    {"FT_Close", store<&ft_functions::close>},
};

const export_binding<libftdi_functions> libftdi_exports[] = {
    {"ftdi_new", store<&libftdi_functions::new_context>},
    {"ftdi_free", store<&libftdi_functions::free_context>},
    {"ftdi_usb_find_all", store<&libftdi_functions::find_all>},
    {"ftdi_list_free", store<&libftdi_functions::free_list>},
    {"ftdi_usb_open_dev", store<&libftdi_functions::open_device>},
    {"ftdi_usb_close", store<&libftdi_functions::close_device>},
    {"ftdi_write_data", store<&libftdi_functions::write_data>},
    {"ftdi_get_error_string", store<&libftdi_functions::error_string>},
};

}  // namespace

struct driver_library::loaded {
  module_ptr module;
  ft_functions vendor{};
  libftdi_driver libftdi{};
  // Why the vendor's library was passed over, for as long as libftdi1 stands in for it.
  std::string vendor_why;
  driver_calls calls{};

  bool load_vendor(std::string& why) {
    module = load_bound(BREVINMARQUEST_VENDOR_LIBRARY, vendor_exports, vendor, why);
    if (!module) return false;
    calls = vendor_calls(vendor, BREVINMARQUEST_VENDOR_LIBRARY);
    return true;
  }

  // `passed_over` says why the vendor's library is not used, so that the user learns of it.
  bool load_libftdi(const std::string& passed_over, std::string& why) {
    module = load_bound(BREVINMARQUEST_LIBFTDI_LIBRARY, libftdi_exports, libftdi.functions, why);
    if (!module) return false;
    vendor_why = passed_over;
    calls = libftdi_calls(libftdi, BREVINMARQUEST_LIBFTDI_LIBRARY, vendor_why.c_str());
    return true;
  }
};

driver_library::driver_library() = default;
driver_library::~driver_library() = default;

const driver_calls* driver_library::calls(std::string& why) {
  if (loaded_) return &loaded_->calls;
  auto library = std::make_unique<loaded>();
  std::string vendor_why;
  std::string libftdi_why;
  if (!library->load_vendor(vendor_why) && !library->load_libftdi(vendor_why, libftdi_why)) {
    why = vendor_why + "; " + libftdi_why;
    return nullptr;
  }
  loaded_ = std::move(library);
  return &loaded_->calls;
}

}  // namespace brevinmarquest::platform

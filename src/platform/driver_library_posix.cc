// Reaches the vendor's D2XX library on Linux and macOS through the dynamic loader, so that the
// loader's search path and LD_LIBRARY_PATH (DYLD_LIBRARY_PATH) decide which copy is used.
#include "platform/driver_library.h"

#include <dlfcn.h>

namespace brevinmarquest::platform {
namespace {

// The vendor's own signatures; its DWORD and ULONG are 32 bits wide on every system.
using ft_open_fn = DeviceStatus (*)(int index, void** handle);
using ft_write_fn = DeviceStatus (*)(void* handle, void* buffer, std::uint32_t count,
                                     std::uint32_t* written);
using ft_close_fn = DeviceStatus (*)(void* handle);

struct vendor_functions {
  ft_open_fn open;
  ft_write_fn write;
  ft_close_fn close;
};

DeviceStatus vendor_open(void* state, std::int32_t index, void** handle) {
  return static_cast<vendor_functions*>(state)->open(index, handle);
}

DeviceStatus vendor_write(void* state, void* handle, unsigned char* bytes, std::uint32_t count,
                          std::uint32_t* written) {
  return static_cast<vendor_functions*>(state)->write(handle, bytes, count, written);
}

DeviceStatus vendor_close(void* state, void* handle) {
  return static_cast<vendor_functions*>(state)->close(handle);
}

struct module_closer {
  void operator()(void* module) const { dlclose(module); }
};
using module_ptr = std::unique_ptr<void, module_closer>;

std::string loader_error() {
  const char* reason = dlerror();
  return reason ? reason : "unknown reason";
}

// Binds one exported function; a null result leaves the loader's reason in `why`.
template <typename Function>
bool bind(void* module, const char* name, Function& function, std::string& why) {
  void* address = dlsym(module, name);
  if (!address) {
    why = std::string(BREVINMARQUEST_VENDOR_LIBRARY " lacks ") + name + ": " + loader_error();
    return false;
  }
  function = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

struct driver_library::loaded {
  module_ptr module;
  vendor_functions functions{};
  driver_calls calls{};
};

driver_library::driver_library() = default;
driver_library::~driver_library() = default;

const driver_calls* driver_library::calls(std::string& why) {
  if (loaded_) return &loaded_->calls;
  dlerror();
  module_ptr module(dlopen(BREVINMARQUEST_VENDOR_LIBRARY, RTLD_NOW | RTLD_LOCAL));
  if (!module) {
    why = "cannot load " BREVINMARQUEST_VENDOR_LIBRARY ": " + loader_error();
    return nullptr;
  }
  auto library = std::make_unique<loaded>();
  vendor_functions& functions = library->functions;
  if (!bind(module.get(), "FT_Open", functions.open, why) ||
      !bind(module.get(), "FT_Write", functions.write, why) ||
      !bind(module.get(), "FT_Close", functions.close, why)) {
    return nullptr;
  }
  library->module = std::move(module);
  library->calls = {&library->functions, vendor_open, vendor_write, vendor_close};
  loaded_ = std::move(library);
  return &loaded_->calls;
}

}  // namespace brevinmarquest::platform

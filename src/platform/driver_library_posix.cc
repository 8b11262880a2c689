// Reaches a driver library on Linux and macOS through the dynamic loader, so that the loader's
// search path and LD_LIBRARY_PATH (DYLD_LIBRARY_PATH) decide which copy is used. The vendor's
// D2XX library comes first; libftdi1 stands in when the vendor's cannot be loaded.
#include <dirent.h>
#include <dlfcn.h>

#include <memory>
#include <string>
#include <vector>

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

// The files to try for a library, in order: its name, which the loader looks up on its path,
// then on Apple silicon Homebrew's folder, which dyld does not search by itself. dyld still looks
// for the name on DYLD_LIBRARY_PATH first, so a folder put there hides Homebrew's copy too.
std::vector<std::string> candidates(const char* name) {
#if defined(__APPLE__) && defined(__aarch64__)
  return {name, std::string("/opt/homebrew/lib/") + name};
#else
  return {name};
#endif
}

template <typename Function>
bool bind(void* module, const std::string& file, const char* name, Function& function,
          std::string& why) {
  function = reinterpret_cast<Function>(dlsym(module, name));
  if (!function) why = file + " lacks " + name + ": " + loader_words();
  return function != nullptr;
}

// A library loaded with all its calls bound.
struct loaded_driver {
  module_ptr module;
  driver_calls calls;
};

// Loads the first of the library's files that has every call `bind_all` binds. On failure `why`
// names each file tried and why it failed.
template <typename Binder>
loaded_driver load(const char* name, std::string& why, Binder bind_all) {
  for (const std::string& candidate : candidates(name)) {
    std::string failure;
    loaded_driver driver{module_ptr(dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)), {}};
    if (!driver.module) {
      failure = "cannot load " + candidate + ": " + loader_words();
    } else if (bind_all(driver.module.get(), candidate, driver.calls, failure)) {
      driver.calls.library = candidate;
      return driver;
    }
    why += (why.empty() ? "" : "; ") + failure;
  }
  return {};
}

#ifdef __linux__
// FTDI's Linux library looks for /dev/bus/usb, then /proc/bus/usb, and crashes in its open where
// the machine shows no USB device at all, as in a virtual machine or container without USB.
bool no_usb_device() {
  const std::unique_ptr<DIR, int (*)(DIR*)> bus(opendir("/dev/bus/usb"), closedir);
  if (!bus) return true;
  while (const dirent* entry = readdir(bus.get())) {
    if (entry->d_name[0] != '.') return false;
  }
  return true;
}
#endif

loaded_driver load_vendor(std::string& why) {
  return load(
      BREVINMARQUEST_VENDOR_LIBRARY, why,
      [](void* library, const std::string& name, driver_calls& calls, std::string& failure) {
        if (!bind(library, name, "FT_Open", calls.open_by_index, failure) ||
            !bind(library, name, "FT_Write", calls.write, failure) ||
            !bind(library, name, "FT_Close", calls.close, failure)) {
          return false;
        }
        // Older libraries lack it; their writes then wait as long as the chip does.
        calls.set_timeouts =
            reinterpret_cast<decltype(calls.set_timeouts)>(dlsym(library, "FT_SetTimeouts"));
#ifdef __linux__
        // Only FTDI's own library has this call; a stand-in may open without USB.
        if (dlsym(library, "FT_GetLibraryVersion")) calls.usb_missing = no_usb_device;
#endif
        return true;
      });
}

// Each libftdi function is bound into the field of its own name.
#define BIND_LIBFTDI(call) bind(library, name, #call, libftdi.call, failure)

loaded_driver load_libftdi(std::string& why) {
  // The driver's calls reach libftdi through these for the rest of the run.
  static libftdi_functions libftdi;
  return load(
      BREVINMARQUEST_LIBFTDI_LIBRARY, why,
      [](void* library, const std::string& name, driver_calls& calls, std::string& failure) {
        if (!(BIND_LIBFTDI(ftdi_new) && BIND_LIBFTDI(ftdi_free) &&
              BIND_LIBFTDI(ftdi_usb_find_all) && BIND_LIBFTDI(ftdi_list_free) &&
              BIND_LIBFTDI(ftdi_usb_open_dev) && BIND_LIBFTDI(ftdi_usb_close) &&
              BIND_LIBFTDI(ftdi_write_data) && BIND_LIBFTDI(ftdi_get_error_string))) {
          return false;
        }
        calls = libftdi_calls(libftdi);
        return true;
      });
}

#undef BIND_LIBFTDI

}  // namespace

const driver_calls* load_driver(std::string& why) {
  static loaded_driver driver;
  if (!driver.module) driver = load_vendor(why);
  if (!driver.module) {
    const std::string passed_over = why;
    driver = load_libftdi(why);
    driver.calls.passed_over = passed_over;
  }
  return driver.module ? &driver.calls : nullptr;
}

}  // namespace brevinmarquest::platform

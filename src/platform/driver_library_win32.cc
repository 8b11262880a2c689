// Reaches FTDI's D2XX library, FTD2XX.dll, on Windows, binding its three calls by export number
// and FT_SetTimeouts, where the library has it, by name.
#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

#include "platform/driver_library.h"

namespace brevinmarquest::platform {
namespace {

constexpr const char* library_name = "FTD2XX.dll";

// Export numbers of the three calls in FTD2XX.dll.
constexpr WORD open_export = 1;
constexpr WORD close_export = 2;
constexpr WORD write_export = 4;

struct module_closer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using module_ptr = std::unique_ptr<std::remove_pointer_t<HMODULE>, module_closer>;

// The system's words for `error` on one line, with its number for searching.
std::string system_reason(DWORD error) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                     nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason(text ? text : "", length);
  LocalFree(text);
  while (!reason.empty() && reason.back() == ' ') reason.pop_back();
  if (reason.empty()) reason = "unknown reason";
  return reason + " (error " + std::to_string(error) + ")";
}

// Loads the library without letting Windows stop a script with a dialog box over a damaged
// file, and without looking in the working folder, where the user's files (and anything
// planted among them) lie. Wine keeps searching the working folder regardless.
module_ptr load(std::string& why) {
  SetDllDirectoryA("");
  DWORD previous_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode);
  module_ptr module(LoadLibraryA(library_name));
  const DWORD error = GetLastError();
  SetThreadErrorMode(previous_mode, nullptr);
  if (!module) why = std::string("cannot load ") + library_name + ": " + system_reason(error);
  return module;
}

// The export `name` (a string, or a number made a name by MAKEINTRESOURCEA) as `Function`; null
// when the library lacks it.
template <typename Function>
Function address_of(HMODULE module, const char* name) {
  // GetProcAddress knows no signatures; going through void(*)() tells the compiler the change
  // of function type is meant.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

template <typename Function>
bool bind(HMODULE module, WORD number, Function& function, std::string& why) {
  function = address_of<Function>(module, MAKEINTRESOURCEA(number));
  if (!function) {
    why = std::string(library_name) + " lacks export " + std::to_string(number) + ": " +
          system_reason(GetLastError());
  }
  return function != nullptr;
}

}  // namespace

const driver_calls* load_driver(std::string& why) {
  static module_ptr module;
  static driver_calls calls;
  if (module) return &calls;
  module = load(why);
  if (module && bind(module.get(), open_export, calls.open_by_index, why) &&
      bind(module.get(), write_export, calls.write, why) &&
      bind(module.get(), close_export, calls.close, why)) {
    // Optional, since a library that lacks it still serves; looked up by the name FTDI documents
    // it under.
    calls.set_timeouts = address_of<decltype(calls.set_timeouts)>(module.get(), "FT_SetTimeouts");
    calls.library = library_name;
    return &calls;
  }
  module.reset();
  return nullptr;
}

}  // namespace brevinmarquest::platform

#pragma once
// The vendor's three D2XX calls as a driver table. Each system's file binds them in its own way
// and with its own calling convention, which is why the pointer types are left to it.

#include <cstdint>

#include "platform/driver_library.h"

namespace brevinmarquest::platform {

// The bound addresses of the vendor's calls, typed as the system calls them.
template <typename Open, typename Write, typename Close>
struct vendor_functions {
  // FT_Open(int index, void** handle).
  Open open;
  // FT_Write(void* handle, void* buffer, DWORD count, DWORD* written).
  Write write;
  // FT_Close(void* handle).
  Close close;
};

// The driver table over `functions`, which must outlive it, under the name `library`.
template <typename Functions>
driver_calls vendor_calls(Functions& functions, const char* library) {
  return {
      &functions,
      [](void* state, std::int32_t index, void** handle) {
        return static_cast<Functions*>(state)->open(index, handle);
      },
      [](void* state, void* handle, unsigned char* bytes, std::uint32_t count,
         std::uint32_t* written) {
        return static_cast<Functions*>(state)->write(handle, bytes, count, written);
      },
      [](void* state, void* handle) { return static_cast<Functions*>(state)->close(handle); },
      library,
      library_kind::vendor,
      "",
      nullptr,
  };
}

}  // namespace brevinmarquest::platform

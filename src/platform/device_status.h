#pragma once
// The D2XX status numbers the tool gives a name to. Every driver answers in them, libftdi1's
// included, so users and scripts see the same codes whichever library runs.

#include <cstdint>

// The calling convention of the vendor's library, which every driver call takes on.
#if defined(_WIN32)
#define DRIVER_CALL __stdcall
#else
#define DRIVER_CALL
#endif

namespace brevinmarquest::platform {

// What every driver call returns: 0 is success, anything else a failure code that is shown to
// the user and never interpreted.
using DeviceStatus = std::uint32_t;

namespace device_status {
constexpr DeviceStatus ok = 0;
constexpr DeviceStatus invalid_handle = 1;
constexpr DeviceStatus device_not_found = 2;
constexpr DeviceStatus device_not_opened = 3;
constexpr DeviceStatus io_error = 4;
constexpr DeviceStatus other_error = 18;
// The tool's own: no driver library could be loaded with all its calls. The vendor's codes are
// small numbers, so this one cannot be mistaken for one of them.
constexpr DeviceStatus no_driver_library = 1000;
}  // namespace device_status

}  // namespace brevinmarquest::platform

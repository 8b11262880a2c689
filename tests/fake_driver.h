#pragma once
// The one in-process driver of the unit tests. Opens and writes play back a script, one entry a
// call, and a call past the script's end succeeds; every call is checked and counted, so a
// leaked open, a write outside an open link or a second close shows.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "platform/driver_library.h"

namespace brevinmarquest::testing {

struct fake_driver {
  struct write_result {
    platform::DeviceStatus status = 0;
    std::uint32_t written = 1;
    // False for a driver that breaks its promise to fill in the count written.
    bool fills_count = true;
  };
  std::deque<platform::DeviceStatus> open_script;
  std::deque<write_result> write_script;
  // The bytes of every write that reported them written.
  std::vector<unsigned char> received;
  int opens = 0;
  int closes = 0;
  bool is_open = false;

  // The calls of this fake, which stands behind them until another fake's calls are taken.
  platform::driver_calls calls() {
    active = this;
    platform::driver_calls calls;
    calls.open_by_index = open;
    calls.write = write;
    calls.close = close;
    calls.library = "fake.so";
    return calls;
  }

 private:
  static inline fake_driver* active = nullptr;

  template <typename T>
  static T next(std::deque<T>& script) {
    if (script.empty()) return T{};
    const T result = script.front();
    script.pop_front();
    return result;
  }

  static platform::DeviceStatus open(std::int32_t index, void** handle) {
    fake_driver& driver = *active;
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(driver.is_open) << "opened twice";
    const platform::DeviceStatus status = next(driver.open_script);
    if (status != 0) return status;
    ++driver.opens;
    driver.is_open = true;
    *handle = active;
    return 0;
  }

  static platform::DeviceStatus write(void* handle, void* buffer, std::uint32_t count,
                                      std::uint32_t* written) {
    fake_driver& driver = *active;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    EXPECT_TRUE(driver.is_open && handle == active) << "a write outside an open link";
    EXPECT_EQ(count, 1u);
    const write_result result = next(driver.write_script);
    if (result.fills_count) *written = result.written;
    if (result.written == count) driver.received.insert(driver.received.end(), bytes, bytes + count);
    return result.status;
  }

  static platform::DeviceStatus close(void* handle) {
    fake_driver& driver = *active;
    EXPECT_TRUE(driver.is_open && handle == active) << "a close without an open";
    driver.is_open = false;
    ++driver.closes;
    return 0;
  }
};

}  // namespace brevinmarquest::testing

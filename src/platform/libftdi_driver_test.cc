#include "platform/libftdi_driver.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace brevinmarquest::platform {
namespace {

// libftdi as the tool sees it, in-process: it lists `found` devices and plays back scripted
// results, and keeps count of what is alive so that a leak or a double release shows.
struct fake_libftdi {
  bool new_fails = false;
  int found = 1;
  int open_result = 0;
  const char* error = nullptr;
  std::deque<int> write_results;

  int contexts_alive = 0;
  int lists_alive = 0;
  int opened_device = -1;
  int closes = 0;
  std::vector<unsigned char> written;
};

// The fake stands behind free functions, as libftdi does; its constructor cannot throw in practice.
fake_libftdi fake;  // NOLINT(cert-err58-cpp)
char devices[4];
char context_target;

class LibftdiDriver : public ::testing::Test {
 protected:
  void SetUp() override { fake = {}; }
  void TearDown() override {
    EXPECT_EQ(fake.contexts_alive, 0);
    EXPECT_EQ(fake.lists_alive, 0);
  }

  // Each call in the field of its name.
  libftdi_functions functions = [] {
    libftdi_functions f{};
    f.ftdi_new = []() -> ftdi_context* {
      if (fake.new_fails) return nullptr;
      ++fake.contexts_alive;
      return reinterpret_cast<ftdi_context*>(&context_target);
    };
    f.ftdi_free = [](ftdi_context*) { --fake.contexts_alive; };
    f.ftdi_usb_find_all = [](ftdi_context*, ftdi_device_list** list, int vendor, int product) {
      EXPECT_EQ(vendor, 0);
      EXPECT_EQ(product, 0);
      ++fake.lists_alive;
      *list = nullptr;
      for (int i = fake.found - 1; i >= 0; --i) {
        *list = new ftdi_device_list{*list, reinterpret_cast<libusb_device*>(&devices[i])};
      }
      return fake.found;
    };
    f.ftdi_list_free = [](ftdi_device_list** list) {
      --fake.lists_alive;
      while (*list) delete std::exchange(*list, (*list)->next);
    };
    f.ftdi_usb_open_dev = [](ftdi_context*, libusb_device* device) {
      if (fake.open_result == 0) {
        fake.opened_device = static_cast<int>(reinterpret_cast<char*>(device) - devices);
      }
      return fake.open_result;
    };
    f.ftdi_usb_close = [](ftdi_context*) {
      ++fake.closes;
      return 0;
    };
    f.ftdi_write_data = [](ftdi_context*, const unsigned char* bytes, int size) {
      EXPECT_EQ(size, 1);
      const int result = fake.write_results.empty() ? 1 : fake.write_results.front();
      if (!fake.write_results.empty()) fake.write_results.pop_front();
      if (result == 1) fake.written.push_back(bytes[0]);
      return result;
    };
    f.ftdi_get_error_string = [](ftdi_context*) { return fake.error; };
    return f;
  }();
  driver_calls calls = libftdi_calls(functions);
  void* handle = nullptr;

  DeviceStatus open() { return calls.open_by_index(0, &handle); }
  std::string last_words() const { return calls.failure_words(nullptr); }
};

TEST_F(LibftdiDriver, OpensTheFirstListedDeviceAndSendsOneBytePerCall) {
  fake.found = 3;
  ASSERT_EQ(open(), 0u);
  EXPECT_EQ(fake.opened_device, 0);
  EXPECT_EQ(fake.lists_alive, 0);
  unsigned char byte = 200;
  std::uint32_t written = 7;
  EXPECT_EQ(calls.write(handle, &byte, 1, &written), 0u);
  EXPECT_EQ(written, 1u);
  EXPECT_EQ(calls.close(handle), 0u);
  EXPECT_EQ(fake.closes, 1);
  EXPECT_EQ(fake.written, std::vector<unsigned char>{200});
}

TEST_F(LibftdiDriver, FailedOpensAnswerInTheVendorsNumbersAndLeaveNothingOpen) {
  struct {
    bool new_fails;
    int found;
    int open_result;
    DeviceStatus status;
    const char* error;
    const char* words;
  } const cases[] = {
      {true, 1, 0, 18, nullptr, "ftdi_new failed"},  // libftdi or libusb cannot start
      {false, -5, 0, 18, nullptr, ""},               // the device list cannot be read
      {false, 0, 0, 2, nullptr, ""},                 // nothing plugged in
      {false, 1, -8, 3, "inappropriate permissions on device!",
       "inappropriate permissions on device!"},  // no permission, in libftdi's words
      {false, 2, -5, 3, nullptr, ""},            // the serial driver keeps the interface
  };
  for (const auto& c : cases) {
    fake = {};
    fake.new_fails = c.new_fails;
    fake.found = c.found;
    fake.open_result = c.open_result;
    fake.error = c.error;
    EXPECT_EQ(open(), c.status) << "found " << c.found << ", open " << c.open_result;
    EXPECT_EQ(last_words(), c.words);
    EXPECT_EQ(fake.contexts_alive, 0);
    EXPECT_EQ(fake.lists_alive, 0);
  }
  // A successful open forgets the words of the failed one before it.
  fake = {};
  ASSERT_EQ(open(), 0u);
  calls.close(handle);
  EXPECT_EQ(last_words(), "");
}

TEST_F(LibftdiDriver, OnlyAByteTheCallWroteCountsAsWritten) {
  ASSERT_EQ(open(), 0u);
  fake.write_results = {0, -1, -666};
  unsigned char byte = 1;
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::uint32_t written = 7;
    EXPECT_EQ(calls.write(handle, &byte, 1, &written), 4u);
    EXPECT_EQ(written, 0u);
  }
  calls.close(handle);
  EXPECT_TRUE(fake.written.empty());
}

}  // namespace
}  // namespace brevinmarquest::platform

#include "transfer/usb_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace brevinmarquest {
namespace {

using platform::DeviceStatus;

// An in-process driver that plays back scripted write results and counts opens and closes.
struct fake_driver {
  struct write_result {
    DeviceStatus status;
    std::uint32_t written;
  };
  DeviceStatus open_status = 0;
  std::deque<write_result> script;
  std::vector<unsigned char> received;
  int opens = 0;
  int closes = 0;
  int handle_target = 0;

  platform::driver_calls calls() { return {this, open, write, close, "fake.so", advice}; }

  static DeviceStatus open(void* state, std::int32_t index, void** handle) {
    auto& self = *static_cast<fake_driver*>(state);
    EXPECT_EQ(index, 0);
    if (self.open_status != 0) return self.open_status;
    ++self.opens;
    *handle = &self.handle_target;
    return 0;
  }
  static DeviceStatus write(void* state, void* handle, unsigned char* bytes, std::uint32_t count,
                            std::uint32_t* written) {
    auto& self = *static_cast<fake_driver*>(state);
    EXPECT_EQ(handle, &self.handle_target);
    EXPECT_EQ(count, 1u);
    write_result result{0, 1};
    if (!self.script.empty()) {
      result = self.script.front();
      self.script.pop_front();
    }
    if (result.written == 1) self.received.push_back(bytes[0]);
    *written = result.written;
    return result.status;
  }
  static DeviceStatus close(void* state, void* /*handle*/) {
    ++static_cast<fake_driver*>(state)->closes;
    return 0;
  }
  static std::string advice(void* /*state*/, DeviceStatus status) {
    return status == 2 ? "plug it in" : "";
  }
};

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string contents_of(std::FILE* file) {
  std::fseek(file, 0, SEEK_SET);
  std::string text;
  for (int c = std::getc(file); c != EOF; c = std::getc(file)) text += static_cast<char>(c);
  return text;
}

class UsbLink : public ::testing::Test {
 protected:
  fake_driver fake;
  platform::driver_calls calls = fake.calls();
  std::unique_ptr<std::FILE, file_closer> output{std::tmpfile()};
  std::unique_ptr<std::FILE, file_closer> diagnostics{std::tmpfile()};
  session console{
      nullptr, output.get(), diagnostics.get(), {}, [this](std::string&) { return &calls; }, {}};
  usb_link link;

  std::string printed() { return contents_of(output.get()); }
};

TEST_F(UsbLink, CountsFromOneAgainAfterEveryOpen) {
  ASSERT_TRUE(usb_link_open(link, console));
  for (unsigned char byte : {1, 2, 3}) EXPECT_TRUE(usb_link_send_byte(link, byte));
  usb_link_close(link);
  ASSERT_TRUE(usb_link_open(link, console));
  EXPECT_TRUE(usb_link_send_byte(link, 4));
  usb_link_close(link);
  EXPECT_EQ(printed(),
            "USB Interface Opened Successfully!\n"
            "   1 total bytes written\n   2 total bytes written\n   3 total bytes written\n"
            "USB Interface Opened Successfully!\n"
            "   1 total bytes written\n");
  EXPECT_EQ(fake.received, (std::vector<unsigned char>{1, 2, 3, 4}));
  EXPECT_EQ(fake.closes, 2);
}

TEST_F(UsbLink, ReportsAFailedOpenAndLeavesNothingToClose) {
  fake.open_status = 3;
  EXPECT_FALSE(usb_link_open(link, console));
  EXPECT_EQ(printed(), "ERROR opening USB!  Code 3.\n");
}

TEST_F(UsbLink, AFailedOpenNamesTheLibraryAndItsAdviceInOneLineApart) {
  fake.open_status = 2;
  EXPECT_FALSE(usb_link_open(link, console));
  fake.open_status = 5;
  EXPECT_FALSE(usb_link_open(link, console));
  EXPECT_EQ(printed(), "ERROR opening USB!  Code 2.\nERROR opening USB!  Code 5.\n");
  EXPECT_EQ(contents_of(diagnostics.get()),
            "brevinmarquest: fake.so could not open device 0 (code 2): plug it in\n"
            "brevinmarquest: fake.so could not open device 0 (code 5)\n");
}

TEST_F(UsbLink, ReportsAMissingDriverOnTheConsoleAndExplainsItApart) {
  console.driver = [](std::string& why) -> const platform::driver_calls* {
    why = "cannot load libftd2xx.so: not found";
    return nullptr;
  };
  EXPECT_FALSE(usb_link_open(link, console));
  EXPECT_EQ(printed(), "ERROR opening USB!  Code 1000.\n");
  EXPECT_EQ(contents_of(diagnostics.get()),
            "brevinmarquest: cannot load libftd2xx.so: not found\n");
}

TEST_F(UsbLink, AShortWriteShowsOnlyTheCountNotTheStatus) {
  fake.script = {{0, 1}, {4, 0}};
  ASSERT_TRUE(usb_link_open(link, console));
  EXPECT_TRUE(usb_link_send_byte(link, 7));
  EXPECT_FALSE(usb_link_send_byte(link, 8));
  EXPECT_EQ(printed(),
            "USB Interface Opened Successfully!\n"
            "   1 total bytes written\n"
            "   1 total bytes written\n"
            "ERROR! Only 0 of 1 bytes written successfully.  Aborting...\n");
}

TEST_F(UsbLink, AWriteWithAFailingStatusCountsItsByteThenStops) {
  fake.script = {{4, 1}};
  ASSERT_TRUE(usb_link_open(link, console));
  EXPECT_FALSE(usb_link_send_byte(link, 7));
  EXPECT_EQ(printed(),
            "USB Interface Opened Successfully!\n"
            "   1 total bytes written\n"
            "ERROR writing data!  Code 4.  Aborting...\n");
}

TEST_F(UsbLink, TheTotalDoesNotWrapAfterFourGibibytes) {
  ASSERT_TRUE(usb_link_open(link, console));
  link.total = 0xFFFFFFFFu;
  EXPECT_TRUE(usb_link_send_byte(link, 0));
  EXPECT_NE(printed().find("   4294967296 total bytes written\n"), std::string::npos);
}

}  // namespace
}  // namespace brevinmarquest

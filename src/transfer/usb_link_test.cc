#include "transfer/usb_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "fake_driver.h"
#include "platform/open_advice.h"
#include "platform/system.h"

namespace brevinmarquest {
namespace {

using platform::DeviceStatus;
using testing::fake_driver;

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
  file_ptr output{std::tmpfile()};
  file_ptr diagnostics{std::tmpfile()};
  session console{
      nullptr, output.get(), diagnostics.get(), {}, [this](std::string&) { return &calls; }, {},
      {}};
  usb_link link;

  std::string printed() { return contents_of(output.get()); }

  // Opens a link for each visit and sends its bytes for as long as the link goes on.
  void visit(const std::vector<std::vector<unsigned char>>& visits) {
    for (const auto& bytes : visits) {
      if (!usb_link_open(link, console)) continue;
      for (const unsigned char byte : bytes) {
        if (!usb_link_send_byte(link, byte)) break;
      }
      usb_link_close(link);
    }
  }
};

TEST_F(UsbLink, CountsReportsAndStopsAsTheDriverAnswers) {
  const struct {
    const char* title;
    std::deque<DeviceStatus> opens;
    std::deque<fake_driver::write_result> writes;
    std::vector<std::vector<unsigned char>> visits;
    const char* printed;
    std::vector<unsigned char> received;
  } cases[] = {
      {"every open counts from 1 again",
       {},
       {},
       {{1, 2, 3}, {4}},
       "USB Interface Opened Successfully!\n"
       "   1 total bytes written\n   2 total bytes written\n   3 total bytes written\n"
       "USB Interface Opened Successfully!\n   1 total bytes written\n",
       {1, 2, 3, 4}},
      {"a failed open says so and leaves nothing to close",
       {3},
       {},
       {{1}},
       "ERROR opening USB!  Code 3.\n",
       {}},
      {"a write that takes no byte shows the count, not the status",
       {},
       {{0, 1}, {4, 0}},
       {{7, 8, 9}},
       "USB Interface Opened Successfully!\n   1 total bytes written\n   1 total bytes written\n"
       "ERROR! Only 0 of 1 bytes written successfully.  Aborting...\n",
       {7}},
      {"a write with a failing status counts its byte, then stops",
       {},
       {{4, 1}},
       {{7, 8}},
       "USB Interface Opened Successfully!\n   1 total bytes written\n"
       "ERROR writing data!  Code 4.  Aborting...\n",
       {7}},
      {"a driver that leaves the count unfilled is credited with no byte",
       {},
       {{0, 1, false}},
       {{7, 8}},
       "USB Interface Opened Successfully!\n   0 total bytes written\n"
       "ERROR! Only 0 of 1 bytes written successfully.  Aborting...\n",
       {7}},
  };
  for (const auto& c : cases) {
    fake = {};
    fake.open_script = c.opens;
    fake.write_script = c.writes;
    output.reset(std::tmpfile());
    console.output = output.get();
    visit(c.visits);
    EXPECT_EQ(printed(), c.printed) << c.title;
    EXPECT_EQ(fake.received, c.received) << c.title;
    EXPECT_EQ(fake.closes, fake.opens) << c.title;
  }
}

// What failed comes after the console's line that it explains, then the fix: two lines at most.
TEST_F(UsbLink, AFailedOpenIsExplainedAfterTheConsoleLineWithTheLibraryThenTheFix) {
  console.diagnostics = output.get();
  fake.open_script = {2, 5};
  EXPECT_FALSE(usb_link_open(link, console));
  EXPECT_FALSE(usb_link_open(link, console));
  const platform::open_advice advice = platform::advice_for(
      platform::running_system(), platform::library_kind::vendor, 2, platform::this_udev_rule());
  EXPECT_EQ(printed(),
            "ERROR opening USB!  Code 2.\n"
            "brevinmarquest: fake.so could not open device 0 (code 2): " +
                advice.causes + "\nbrevinmarquest: fix: " + advice.fix +
                "\n"
                "ERROR opening USB!  Code 5.\n"
                "brevinmarquest: fake.so could not open device 0 (code 5)\n");
}

TEST_F(UsbLink, AMissingDriverIsCode1000ThenTheLoadersReasonsThenTheFix) {
  console.diagnostics = output.get();
  console.driver = [](std::string& why) -> const platform::driver_calls* {
    why = "cannot load libftd2xx.so: not found";
    return nullptr;
  };
  EXPECT_FALSE(usb_link_open(link, console));
  const platform::open_advice advice = platform::advice_for(
      platform::running_system(), platform::library_kind::vendor, 1000, platform::this_udev_rule());
  EXPECT_EQ(printed(),
            "ERROR opening USB!  Code 1000.\n"
            "brevinmarquest: no driver library could be loaded: cannot load libftd2xx.so: not "
            "found\nbrevinmarquest: fix: " +
                advice.fix + "\n");
}

TEST_F(UsbLink, TheTotalDoesNotWrapAfterFourGibibytes) {
  ASSERT_TRUE(usb_link_open(link, console));
  link.total = 0xFFFFFFFFu;
  EXPECT_TRUE(usb_link_send_byte(link, 0));
  EXPECT_NE(printed().find("   4294967296 total bytes written\n"), std::string::npos);
}

}  // namespace
}  // namespace brevinmarquest

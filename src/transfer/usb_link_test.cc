#include "transfer/usb_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "in_memory_session.h"
#include "platform/open_advice.h"
#include "platform/system.h"

namespace brevinmarquest {
namespace {

class UsbLink : public ::testing::Test {
 protected:
  testing::in_memory_session played;
  testing::fake_driver& fake = played.device;
  console& c = played.c;
  session& s = played.s;

  // What the user is told on a failed open through the vendor's library, here.
  static platform::open_advice vendor_advice(platform::DeviceStatus status) {
    return platform::advice_for(
        platform::running_system(), platform::library_kind::vendor, status,
        platform::udev_rule_step(platform::tool_path(), platform::rule_readable),
        platform::running_as_root());
  }

  std::string printed() { return played.shown(); }
};

// A driver that breaks its promise to fill in the count, and a link that is opened again. The
// driver's other answers, with these texts, counts and bytes, are pinned by the transcript cases
// on the simulated device.
TEST_F(UsbLink, AnUnfilledCountCreditsNoByteAndAnOpenCountsFrom1Again) {
  fake.write_script = {{}, {0, 1, false}};
  with_link(s, c, [this](usb_link& link) {
    EXPECT_TRUE(usb_link_send_byte(link, c, 7));
    EXPECT_FALSE(usb_link_send_byte(link, c, 8));
  });
  with_link(s, c, [this](usb_link& link) { EXPECT_TRUE(usb_link_send_byte(link, c, 9)); });
  EXPECT_EQ(
      printed(),
      "USB Interface Opened Successfully!\n   1 total bytes written\n   1 total bytes written\n"
      "ERROR! Only 0 of 1 bytes written successfully.  Aborting...\n"
      "USB Interface Opened Successfully!\n   1 total bytes written\n");
  EXPECT_EQ(fake.received, (std::vector<unsigned char>{7, 8, 9}));
  EXPECT_EQ(fake.closes, 2);
}

// What failed comes after the console's line that it explains, then the fix: two lines at most.
TEST_F(UsbLink, AFailedOpenIsExplainedAfterTheConsoleLineWithTheLibraryThenTheFix) {
  played.shared_console = true;
  fake.open_script = {2, 5};
  const auto never_run = [](usb_link&) { ADD_FAILURE() << "a transfer ran without a device"; };
  with_link(s, c, never_run);
  with_link(s, c, never_run);
  const platform::open_advice advice = vendor_advice(2);
  EXPECT_EQ(printed(),
            "ERROR opening USB!  Code 2.\n"
            "brevinmarquest: fake.so could not open device 0 (code 2): " +
                advice.causes + "\nbrevinmarquest: fix: " + advice.fix +
                "\n"
                "ERROR opening USB!  Code 5.\n"
                "brevinmarquest: fake.so could not open device 0 (code 5)\n");
}

TEST_F(UsbLink, AMissingDriverIsCode1000ThenTheLoadersReasonsThenTheFix) {
  played.shared_console = true;
  s.driver = [](std::string& why) -> const platform::driver_calls* {
    why = "cannot load libftd2xx.so: not found";
    return nullptr;
  };
  with_link(s, c, [](usb_link&) { ADD_FAILURE() << "a transfer ran without a device"; });
  const platform::open_advice advice = vendor_advice(1000);
  EXPECT_EQ(printed(),
            "ERROR opening USB!  Code 1000.\n"
            "brevinmarquest: no driver library could be loaded: cannot load libftd2xx.so: not "
            "found\nbrevinmarquest: fix: " +
                advice.fix + "\n");
}

TEST_F(UsbLink, TheTotalDoesNotWrapAfterFourGibibytes) {
  with_link(s, c, [this](usb_link& link) {
    link.total = 0xFFFFFFFFu;
    usb_link_send_byte(link, c, 0);
  });
  EXPECT_NE(printed().find("   4294967296 total bytes written\n"), std::string::npos);
}

}  // namespace
}  // namespace brevinmarquest

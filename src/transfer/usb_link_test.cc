#include "transfer/usb_link.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "in_memory_session.h"

namespace brevinmarquest {
namespace {

class UsbLink : public ::testing::Test {
 protected:
  testing::in_memory_session played;
  testing::fake_driver& fake = played.device;
  console& c = played.c;
  session& s = played.s;

  std::string printed() { return played.shown(); }
};

// A driver that breaks its promise to fill in the count, one that reports more than it was
// given while failing, and a link that is opened again. The driver's other answers, with these
// texts, counts and bytes, are pinned by the transcript cases on the simulated device.
TEST_F(UsbLink, AnUnfilledCountCreditsNoByteAndAnOpenCountsFrom1Again) {
  fake.write_script = {{}, {0, 1, false}, {}, {4, 2}};
  with_link(s, c, [this](usb_link& link) {
    EXPECT_TRUE(usb_link_send_byte(link, c, 7));
    EXPECT_FALSE(usb_link_send_byte(link, c, 8));
  });
  with_link(s, c, [this](usb_link& link) {
    EXPECT_TRUE(usb_link_send_byte(link, c, 9));
    EXPECT_FALSE(usb_link_send_byte(link, c, 10));
  });
  EXPECT_EQ(
      printed(),
      "USB Interface Opened Successfully!\n   1 total bytes written\n   1 total bytes written\n"
      "ERROR! Only 0 of 1 bytes written successfully.  Aborting...\n"
      "USB Interface Opened Successfully!\n   1 total bytes written\n   3 total bytes written\n"
      "ERROR! Only 2 of 1 bytes written successfully.  Aborting...\n");
  EXPECT_EQ(played.explained,
            "brevinmarquest: device 0 took no byte: on a chip in a FIFO mode, nothing on the far "
            "side is reading\nbrevinmarquest: the write to device 0 reported 2 bytes written for a "
            "1-byte write and failed with code 4 (I/O error)\n");
  EXPECT_EQ(fake.received, (std::vector<unsigned char>{7, 8, 9}));
  EXPECT_EQ(fake.closes, 2);
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

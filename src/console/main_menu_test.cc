#include "console/main_menu.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "in_memory_session.h"

namespace brevinmarquest {
namespace {

using testing::in_memory_session;

bool holds(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

TEST(MainMenu, PlaysAWholeSessionInMemoryAndLeavesNothingBehindForTheNext) {
  in_memory_session first;
  in_memory_session second;
  first.files["design.bit"].contents = "\xff";
  second.files = first.files;
  EXPECT_EQ(first.play("L other.bit design.bit H 7 Q"), input_ended_status);
  EXPECT_TRUE(holds(first.printed, "No such file\n"));
  EXPECT_TRUE(holds(first.printed, "255    1 total bytes written\n"));
  EXPECT_EQ(first.device.received, (std::vector<unsigned char>{255, 7}));
  EXPECT_EQ(first.device.opens, 2);
  EXPECT_EQ(first.device.closes, 2);
  EXPECT_EQ(second.play("L other.bit design.bit H 7 Q"), input_ended_status);
  EXPECT_EQ(second.printed, first.printed);
}

// The console's fourth write holds the first byte's total line (25 characters) and the second
// byte's value. A value that a stop kept off the console is not sent; one shown even in part is.
// Whatever the console still owes reaches it as the tool ends.
TEST(MainMenu, AStopThatCutsAConsoleWriteShortLosesNoLineAndSendsOnlyWhatWasEchoed) {
  const struct {
    std::size_t taken;
    std::vector<unsigned char> sent;
    const char* ending;
  } cases[] = {
      {0, {1}, "\n1    1 total bytes written\nERROR SENDING d.bit\n"},
      {25, {1}, "\n1    1 total bytes written\nERROR SENDING d.bit\n"},
      {26, {1, 2}, "\n2    2 total bytes written\nERROR SENDING d.bit\n"},
  };
  for (const auto& c : cases) {
    in_memory_session played;
    played.files["d.bit"].contents = "\x01\x02\x03";
    played.stopping_write = 3;
    played.taken = c.taken;
    EXPECT_EQ(played.play("L d.bit Q"), 130);
    const std::string ending = c.ending;
    EXPECT_EQ(played.printed.substr(played.printed.size() - ending.size()), ending) << c.taken;
    EXPECT_EQ(played.device.received, c.sent) << c.taken;
    EXPECT_EQ(played.device.closes, 1);
    EXPECT_TRUE(holds(played.explained, "stopped by SIGINT")) << played.explained;
  }
}

#ifdef __GLIBC__
TEST(MainMenu, AFileThatFailsWhileItIsReadIsNeverReportedSentAndSendsOnlyWhatWasRead) {
  in_memory_session played;
  played.files["broken.bit"] = {"\x01\x02\x03", 2};
  EXPECT_EQ(played.play("L broken.bit C Q"), 0);
  EXPECT_TRUE(holds(played.printed, "2    2 total bytes written\nERROR SENDING broken.bit\n"))
      << played.printed;
  EXPECT_FALSE(holds(played.printed, "End of bit stream")) << played.printed;
  EXPECT_EQ(played.explained, "brevinmarquest: reading the file failed: Input/output error\n");
  EXPECT_EQ(played.device.received, (std::vector<unsigned char>{1, 2}));
  EXPECT_EQ(played.device.closes, 1);
  EXPECT_TRUE(played.files["broken.bit"].closed);
}
#endif

}  // namespace
}  // namespace brevinmarquest

#include "console/main_menu.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "console/token_reader.h"

namespace brevinmarquest {
namespace {

using platform::DeviceStatus;

// A device that takes every byte, and an in-memory console around one whole session.
struct in_memory_session {
  std::vector<unsigned char> received;
  int opens = 0;
  int closes = 0;
  platform::driver_calls calls{};

  static DeviceStatus open(void* state, std::int32_t /*index*/, void** handle) {
    ++static_cast<in_memory_session*>(state)->opens;
    *handle = state;
    return 0;
  }
  static DeviceStatus write(void* state, void* /*handle*/, unsigned char* bytes,
                            std::uint32_t count, std::uint32_t* written) {
    auto& self = *static_cast<in_memory_session*>(state);
    self.received.insert(self.received.end(), bytes, bytes + count);
    *written = count;
    return 0;
  }
  static DeviceStatus close(void* state, void* /*handle*/) {
    ++static_cast<in_memory_session*>(state)->closes;
    return 0;
  }

  // Plays `typed` through the menu with one file, design.bit; gives the exit status and output.
  std::pair<int, std::string> play(const std::string& typed_text, const std::string& design_bytes) {
    std::string typed = typed_text;
    std::string design = design_bytes;
    calls.state = this;
    calls.open_by_index = open;
    calls.write = write;
    calls.close = close;
    calls.library = "a fake driver";
    calls.passed_over = "";
    char* printed = nullptr;
    std::size_t printed_size = 0;
    std::FILE* input = fmemopen(typed.data(), typed.size(), "rb");
    std::FILE* output = open_memstream(&printed, &printed_size);
    const session s{input,
                    output,
                    output,
                    standard_reading(),
                    [this](std::string&) { return &calls; },
                    [&design](const char* name) {
                      return std::string(name) == "design.bit"
                                 ? fmemopen(design.data(), design.size(), "rb")
                                 : nullptr;
                    },
                    {}};
    const int status = main_menu(s);
    std::fclose(input);
    std::fclose(output);
    std::string text(printed, printed_size);
    std::free(printed);
    return {status, text};
  }
};

TEST(MainMenu, PlaysAWholeSessionInMemoryAndLeavesNothingBehindForTheNext) {
  in_memory_session first;
  in_memory_session second;
  const auto played = first.play("L other.bit design.bit H 7 Q", "\xff");
  EXPECT_EQ(played.first, input_ended_status);
  EXPECT_NE(played.second.find("No such file\n"), std::string::npos);
  EXPECT_NE(played.second.find("255    1 total bytes written\n"), std::string::npos);
  EXPECT_EQ(first.received, (std::vector<unsigned char>{255, 7}));
  EXPECT_EQ(first.opens, 2);
  EXPECT_EQ(first.closes, 2);
  EXPECT_EQ(second.play("L other.bit design.bit H 7 Q", "\xff"), played);
}

}  // namespace
}  // namespace brevinmarquest

#include "console/main_menu.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "fake_driver.h"

namespace brevinmarquest {
namespace {

// A file in memory whose reading fails with an I/O error once `fails_at` bytes were read.
struct memory_file {
  // cppcheck-suppress unusedStructMember ; read through the map of files, where it cannot look
  std::string contents;
  std::size_t fails_at = std::string::npos;
  bool closed = false;
};

file_ptr file_of(const std::string& bytes) {
  file_ptr file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  return file;
}

#ifdef __GLIBC__
// Only glibc lets a test make a stream whose reads fail part-way.
std::FILE* failing_file(memory_file& file) {
  const auto read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto& f = *static_cast<memory_file*>(cookie);
    if (f.fails_at == 0) {
      errno = EIO;
      return -1;
    }
    const std::size_t count = f.contents.copy(buffer, std::min(size, f.fails_at));
    f.contents.erase(0, count);
    f.fails_at -= count;
    return static_cast<ssize_t>(count);
  };
  const auto close = [](void* cookie) {
    static_cast<memory_file*>(cookie)->closed = true;
    return 0;
  };
  return fopencookie(&file, "rb", {read, {}, {}, close});
}
#endif

// The stop a session's console write asks for, as a signal handler would note it.
int stop_signal = 0;

// Standard input, the console and the files of one whole session, in memory, with the fake
// driver as device 0. The console write numbered `stopping_write` takes only `taken` bytes: a
// SIGINT cuts it short.
struct in_memory_session {
  testing::fake_driver device;
  std::map<std::string, memory_file> files;
  std::string printed;
  std::string explained;
  int stopping_write = -1;
  std::size_t taken = 0;

  int play(const std::string& typed) {
    const platform::driver_calls calls = device.calls();
    const file_ptr input = file_of(typed);
    session s;
    s.input = input.get();
    stop_signal = 0;
    s.stops.requested = [] { return stop_signal; };
    s.write = [this](platform::console_stream stream, std::string_view text) {
      if (stream == platform::console_stream::diagnostics) {
        explained.append(text);
      } else if (stopping_write-- == 0) {
        printed.append(text.substr(0, taken));
        stop_signal = 2;
        return platform::console_write{taken, false};
      } else {
        printed.append(text);
      }
      return platform::console_write{text.size(), false};
    };
    s.driver = [&calls](std::string&) { return &calls; };
    s.open_file = [this](const char* name) -> std::FILE* {
      const auto file = files.find(name);
      if (file == files.end()) return nullptr;
#ifdef __GLIBC__
      if (file->second.fails_at != std::string::npos) return failing_file(file->second);
#endif
      return file_of(file->second.contents).release();
    };
    return main_menu(s);
  }
};

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

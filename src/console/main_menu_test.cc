#include "console/main_menu.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "console/token_reader.h"
#include "fake_driver.h"
#include "transfer/load_bit_file.h"

namespace brevinmarquest {
namespace {

// A file in memory whose reading fails with an I/O error once `fails_at` bytes were read.
struct memory_file {
  std::string contents;
  std::size_t fails_at = std::string::npos;
  std::size_t read = 0;
};

ssize_t read_memory_file(void* cookie, char* buffer, std::size_t size) {
  auto& file = *static_cast<memory_file*>(cookie);
  const std::size_t end = std::min(file.contents.size(), file.fails_at);
  if (file.read == file.fails_at) {
    errno = EIO;
    return -1;
  }
  const std::size_t count = file.contents.copy(buffer, std::min(size, end - file.read), file.read);
  file.read += count;
  return static_cast<ssize_t>(count);
}

// Standard input, the console and the files of one whole session, in memory, with the fake
// driver as device 0.
struct in_memory_session {
  testing::fake_driver device;
  std::map<std::string, memory_file> files;
  std::string printed;
  std::string explained;

  int play(const std::string& typed_text) {
    std::string typed = typed_text;
    const platform::driver_calls calls = device.calls();
    char* output_text = nullptr;
    char* diagnostics_text = nullptr;
    std::size_t output_size = 0;
    std::size_t diagnostics_size = 0;
    const file_ptr input(fmemopen(typed.data(), typed.size(), "rb"));
    file_ptr output(open_memstream(&output_text, &output_size));
    file_ptr diagnostics(open_memstream(&diagnostics_text, &diagnostics_size));
    const session s{input.get(),
                    output.get(),
                    diagnostics.get(),
                    standard_reading(),
                    [&calls](std::string&) { return &calls; },
                    [this](const char* name) -> std::FILE* {
                      const auto file = files.find(name);
                      if (file == files.end()) return nullptr;
                      file->second.read = 0;
                      return fopencookie(&file->second, "rb", {read_memory_file, {}, {}, {}});
                    },
                    {}};
    const int status = main_menu(s);
    output.reset();
    diagnostics.reset();
    printed.assign(output_text, output_size);
    explained.assign(diagnostics_text, diagnostics_size);
    std::free(output_text);
    std::free(diagnostics_text);
    return status;
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

TEST(MainMenu, AFileThatFailsWhileItIsReadIsNeverReportedSentAndSendsOnlyWhatWasRead) {
  in_memory_session played;
  played.files["broken.bit"] = {"\x01\x02\x03", 2};
  EXPECT_EQ(played.play("L broken.bit C"), input_ended_status);
  EXPECT_TRUE(holds(played.printed,
                    "2    2 total bytes written\nERROR SENDING broken.bit\n"))
      << played.printed;
  EXPECT_FALSE(holds(played.printed, "End of bit stream")) << played.printed;
  EXPECT_EQ(played.explained, "brevinmarquest: reading the file failed: Input/output error\n");
  EXPECT_EQ(played.device.received, (std::vector<unsigned char>{1, 2}));
  EXPECT_EQ(played.device.closes, 1);
}

}  // namespace
}  // namespace brevinmarquest

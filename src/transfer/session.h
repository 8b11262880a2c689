#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "console/console_writer.h"
#include "platform/driver_library.h"

namespace brevinmarquest {

struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

// What one run of the dialogue reaches besides its console, handed in, so that a test can play
// a whole session in-process on its own files and driver.
struct session {
  // The driver a link opens with each time; null when there is none, with `why` saying in one
  // line what was tried and why it failed.
  std::function<const platform::driver_calls*(std::string& why)> driver;
  // Opens a named file for binary reading; null when it cannot.
  std::function<std::FILE*(const char* name)> open_file;
};

}  // namespace brevinmarquest

#pragma once
// What the stand-in driver libraries share: settings read from the environment, and the call log
// that the transcript tests read to check that every open device was closed.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace stand_in {

// The number in environment variable `name`, or `fallback` when it is unset or empty.
inline long long environment_number(const char* name, long long fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoll(text, nullptr, 10) : fallback;
}

// The file named by environment variable `name`, opened for appending; null when it is unset.
inline std::FILE* append_file(const char* name) {
  const char* path = std::getenv(name);
  return path && *path ? std::fopen(path, "ab") : nullptr;
}

// Adds one line to `log`, if there is one. Flushed at once, so the log survives a tool that is
// killed half-way.
__attribute__((format(printf, 2, 3))) inline void log_line(std::FILE* log, const char* format,
                                                           ...) {
  if (!log) return;
  std::va_list arguments;
  va_start(arguments, format);
  std::vfprintf(log, format, arguments);
  va_end(arguments);
  std::fflush(log);
}

}  // namespace stand_in

#pragma once
// Files in memory for the unit tests and the fuzz target, read through the C library as the tool
// reads any file.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "transfer/session.h"

namespace brevinmarquest::testing {

// A stream that reads `bytes`, on every system.
inline file_ptr file_of(const std::string& bytes) {
  file_ptr file(std::tmpfile());
  std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  std::fseek(file.get(), 0, SEEK_SET);
  return file;
}

// A file in memory whose reading fails with an I/O error at offset `fails_at`, if it is within
// the contents. It counts what it handed the reader, and calls `on_close` as the reader closes it.
struct memory_file {
  std::string contents;
  std::optional<std::size_t> fails_at;
  std::size_t delivered = 0;
  bool read_failed = false;
  bool closed = false;
  std::function<void()> on_close = [] {};
};

#ifdef __GLIBC__
// A stream over `file`, which must outlive it. Only glibc lets a stream's reads fail part-way.
inline std::FILE* open_memory_file(memory_file& file) {
  const auto read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    auto& f = *static_cast<memory_file*>(cookie);
    const std::size_t end = std::min(f.contents.size(), f.fails_at.value_or(f.contents.size()));
    if (f.delivered == end && f.fails_at && *f.fails_at <= f.contents.size()) {
      f.read_failed = true;
      errno = EIO;
      return -1;
    }
    const std::size_t count = f.contents.copy(buffer, std::min(size, end - f.delivered), f.delivered);
    f.delivered += count;
    return static_cast<ssize_t>(count);
  };
  const auto close = [](void* cookie) {
    auto& f = *static_cast<memory_file*>(cookie);
    f.on_close();
    f.closed = true;
    return 0;
  };
  return fopencookie(&file, "rb", {read, {}, {}, close});
}
#endif

}  // namespace brevinmarquest::testing

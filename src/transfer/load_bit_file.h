#pragma once

#include <cstdio>
#include <memory>

#include "transfer/session.h"

namespace brevinmarquest {

// The LOAD BIT FILE dialog: asks for a file name until a file was sent or the user cancels.
void load_bit_file(const session& s);

// Closes a file on every path out of the code that opened it.
struct file_closer {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_ptr = std::unique_ptr<std::FILE, file_closer>;

}  // namespace brevinmarquest

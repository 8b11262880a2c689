#pragma once

#include <cstdio>

#include "transfer/session.h"

namespace brevinmarquest {

// The LOAD BIT FILE dialog: asks for a file name until a file was sent or the user cancels.
void load_bit_file(const session& s);

// Streams `file` from its current position to device 0, one byte per write, echoing each
// byte. True when the end of the file was reached with every byte written; false when the
// device did not open, a write failed or the file could not be read. Leaves the file open.
bool send_file(const session& s, std::FILE* file);

}  // namespace brevinmarquest

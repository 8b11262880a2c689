#pragma once

#include "transfer/session.h"

namespace brevinmarquest {

// The LOAD BIT FILE dialog: asks for a file name until a file was sent or the user cancels.
void load_bit_file(const session& s, console& c);

}  // namespace brevinmarquest

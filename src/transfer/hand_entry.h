#pragma once

#include "transfer/session.h"

namespace brevinmarquest {

// The hand-entry dialog: sends typed values 0 to 255 to device 0 until "Q" or a failed write.
void hand_entry(const session& s, console& c);

}  // namespace brevinmarquest

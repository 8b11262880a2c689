#pragma once

#include <optional>
#include <string_view>

#include "transfer/session.h"

namespace brevinmarquest {

// The hand-entry dialog: sends typed values 0 to 255 to device 0 until "Q" or a failed write.
void hand_entry(const session& s, console& c);

// Converts a typed entry of at most three characters as decimal: an optional sign, then digits
// up to the first character that is not one; none when no digit follows the sign.
std::optional<int> entry_value(std::string_view entry);

}  // namespace brevinmarquest

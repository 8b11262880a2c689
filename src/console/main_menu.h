#pragma once

#include "transfer/session.h"

namespace brevinmarquest {

// Exit status when input ends before the user chose "Q", so that a script learns that its
// session did not run to the end it planned.
constexpr int input_ended_status = 1;

// Prints the banner once, then runs the main menu until "Q" (status 0), the end of input (1) or
// a stop during a transfer (128 plus the signal's number).
int main_menu(const session& s, console& c);

}  // namespace brevinmarquest

#include "transfer/load_bit_file.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/system.h"
#include "transfer/usb_link.h"

namespace brevinmarquest {
namespace {

// A file opened for sending. One whose reads may wait (a FIFO) is read a byte at a time, past the
// C library's buffer, and the total is shown before each wait.
struct bit_file {
  file_ptr file;
  bool reads_wait = false;
};

// Opens the named file and reads one byte ahead, so that a name that opens but cannot be read,
// such as a directory, is refused before the device is touched; a file whose reads may wait is
// read from its first byte on. On failure `why` gives the system's reason.
bit_file open_bit_file(const session& s, std::string_view name, std::string& why) {
  // No file name holds a NUL; the part before it must not be opened in its place.
  if (name.find('\0') != std::string_view::npos) {
    why = "a file name cannot hold a NUL byte";
    return {};
  }
  file_ptr file(s.open_file(std::string(name).c_str()));
  if (file && platform::reads_may_wait(file.get())) {
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return {std::move(file), true};
  }
  // Putting back the end of the file puts back nothing.
  if (file) std::ungetc(std::getc(file.get()), file.get());
  if (file && !std::ferror(file.get())) return {std::move(file), false};
  why = std::strerror(errno);
  return {};
}

// Says on standard error why the file named by `name` was refused.
void explain_refused(console& c, const token& name, const std::string& why) {
  if (name.status == token_status::too_long) {
    explain(c, "brevinmarquest: a file name is at most ", command_capacity - 1,
            " characters long\n");
    return;
  }
  explain(c, "brevinmarquest: cannot open ", quoted(name.text), ": ", why, "\n");
}

// Sends the bytes of `f` from its current position to the linked device, one per write, echoing
// each. True when the end of the file was reached with every byte written; false when a write
// failed, the file could not be read, the console output is gone or the user stopped it.
bool send_bytes(console& c, usb_link& link, const bit_file& f) {
  std::FILE* file = f.file.get();
  for (;;) {
    const int byte = f.reads_wait ? platform::read_waiting_byte(file) : std::getc(file);
    const bool stopped = c.io.stops.requested() != 0;
    // A stop ends the wait for a FIFO's writer as its end would; a file read whole was sent whole.
    if (byte == EOF && !(stopped && f.reads_wait)) {
      if (std::ferror(file)) {
        explain(c, "brevinmarquest: reading the file failed: ", std::strerror(errno), "\n");
        return false;
      }
      say(c, "   End of bit stream reached.\n");
      return true;
    }
    if (stopped) return false;
    const std::size_t echo_length = say(c, byte, " ");
    const shown echoed = show(c);
    // A transfer whose progress nobody can see any more stops as a failed one, so that the
    // session ends promptly rather than after the whole file. A value that a stop kept off the
    // console is not sent; one that reached it is.
    if (echoed == shown::failed || (echoed == shown::stopped && unsay(c, echo_length))) {
      return false;
    }
    if (!usb_link_send_byte(link, c, static_cast<unsigned char>(byte))) return false;
    if (f.reads_wait) show(c);
  }
}

// Streams `f` to device 0 through a link of its own. True when it was sent whole.
bool send_file(const session& s, console& c, const bit_file& f) {
  bool sent = false;
  with_link(s, c, [&](usb_link& link) { sent = send_bytes(c, link, f); });
  return sent;
}

}  // namespace

void load_bit_file(const session& s, console& c) {
  char buffer[command_capacity];
  for (;;) {
    say(c,
        "\nLOAD BIT FILE\n\n"
        "   [C]ancel\n"
        "   (anything else to load)\n"
        "    Filename To Read (INCLUDE extension): ");
    const token name = next_token(c, buffer, sizeof buffer);
    if (name.status == token_status::end_of_input || token_is(name, "C")) return;
    std::string why;
    const bit_file opened =
        name.status == token_status::read ? open_bit_file(s, name.text, why) : bit_file{};
    if (!opened.file) {
      say(c, "No such file\n");
      explain_refused(c, name, why);
      continue;
    }
    if (send_file(s, c, opened)) {
      say(c, name.text, " SENT SUCCESSFULLY!\n");
      return;
    }
    say(c, "ERROR SENDING ", name.text, "\n");
    if (c.io.stops.requested()) return;
  }
}

}  // namespace brevinmarquest

#include "transfer/load_bit_file.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/system.h"
#include "transfer/usb_link.h"

namespace brevinmarquest {
namespace {

// Opens the named file and reads one byte ahead, so that a name that opens but cannot be read,
// such as a directory, is refused before the device is touched. A file whose reads may wait (a
// FIFO) is read a byte at a time, past the C library's buffer, from its first byte on. On failure
// `why` gives the system's reason.
file_ptr open_bit_file(const session& s, std::string_view name, std::string& why) {
  // No file name holds a NUL; the part before it must not be opened in its place.
  if (name.find('\0') != std::string_view::npos) {
    why = "a file name cannot hold a NUL byte";
    return nullptr;
  }
  file_ptr file(s.open_file(std::string(name).c_str()));
  if (file && platform::reads_may_wait(file.get())) {
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return file;
  }
  // Putting back the end of the file puts back nothing.
  if (file) std::ungetc(std::getc(file.get()), file.get());
  if (file && !std::ferror(file.get())) return file;
  why = std::strerror(errno);
  return nullptr;
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

// Streams `file` from its current position to device 0, one byte per write, echoing each
// byte. True when the end of the file was reached with every byte written; false when the
// device did not open, a write failed, the file could not be read or the user stopped it.
bool send_file(const session& s, console& c, std::FILE* file) {
  std::optional<usb_link> link = usb_link_open(s, c);
  if (!link) return false;
  const link_closer closing{*link};
  const bool reads_wait = platform::reads_may_wait(file);
  const auto next_byte = [&] {
    return reads_wait ? platform::read_waiting_byte(file) : std::getc(file);
  };
  int byte = next_byte();
  for (; byte != EOF && !s.stops.requested(); byte = next_byte()) {
    const std::uint64_t value_at = text_mark(c);
    say(c, byte, " ");
    const shown echoed = show(c);
    // A transfer whose progress nobody can see any more stops as a failed one, so that the
    // session ends promptly rather than after the whole file. A value that a stop kept off the
    // console is not sent; one that reached it is.
    if (echoed == shown::failed || (echoed == shown::stopped && take_back(c, value_at))) break;
    if (!usb_link_send_byte(*link, static_cast<unsigned char>(byte))) break;
    if (reads_wait) show(c);
  }
  // A stop ends the wait for a FIFO's writer as its end would.
  const bool stopped_waiting = reads_wait && s.stops.requested();
  const bool read_whole = byte == EOF && !std::ferror(file) && !stopped_waiting;
  if (read_whole) {
    say(c, "   End of bit stream reached.\n");
  } else if (byte == EOF && !s.stops.requested()) {
    explain(c, "brevinmarquest: reading the file failed: ", std::strerror(errno), "\n");
  }
  return read_whole;
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
    const file_ptr file =
        name.status == token_status::read ? open_bit_file(s, name.text, why) : nullptr;
    if (!file) {
      say(c, "No such file\n");
      explain_refused(c, name, why);
      continue;
    }
    if (send_file(s, c, file.get())) {
      say(c, name.text, " SENT SUCCESSFULLY!\n");
      return;
    }
    say(c, "ERROR SENDING ", name.text, "\n");
    if (s.stops.requested()) return;
  }
}

}  // namespace brevinmarquest

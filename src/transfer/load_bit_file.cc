#include "transfer/load_bit_file.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "transfer/usb_link.h"

namespace brevinmarquest {
namespace {

constexpr std::size_t name_capacity = 100;

void print_prompt(std::FILE* output) {
  say(output,
      "\nLOAD BIT FILE\n\n"
      "   [C]ancel\n"
      "   (anything else to load)\n"
      "    Filename To Read (INCLUDE extension): ");
}

// Opens the named file and reads one byte ahead, so that a name that opens but cannot be read,
// such as a directory, is refused before the device is touched.
file_ptr open_bit_file(const session& s, std::string_view name) {
  // No file name holds a NUL; the part before it must not be opened in its place.
  if (name.find('\0') != std::string_view::npos) return nullptr;
  file_ptr file(s.open_file(std::string(name).c_str()));
  if (!file) return nullptr;
  const int first = std::getc(file.get());
  if (std::ferror(file.get())) return nullptr;
  if (first != EOF) std::ungetc(first, file.get());
  return file;
}

}  // namespace

bool send_file(const session& s, std::FILE* file) {
  usb_link link;
  if (!usb_link_open(link, s)) return false;
  int byte = std::getc(file);
  for (; byte != EOF; byte = std::getc(file)) {
    say(s.output, "%i ", byte);
    // A transfer whose progress nobody can see any more stops as a failed one, so that the
    // session ends promptly rather than after the whole file.
    if (std::ferror(s.output)) break;
    if (!usb_link_send_byte(link, static_cast<unsigned char>(byte))) break;
  }
  const bool read_whole = byte == EOF && !std::ferror(file);
  if (read_whole) {
    say(s.output, "   End of bit stream reached.\n");
  } else if (byte == EOF) {
    say(s.diagnostics, "brevinmarquest: reading the file failed: %s\n", std::strerror(errno));
  }
  usb_link_close(link);
  return read_whole;
}

void load_bit_file(const session& s) {
  char buffer[name_capacity];
  for (;;) {
    print_prompt(s.output);
    const token name = next_token(s, buffer, sizeof buffer);
    if (name.status == token_status::end_of_input || is_command(s, name, "C")) return;
    const file_ptr file = name.status == token_status::read ? open_bit_file(s, name.text) : nullptr;
    if (!file) {
      say(s.output, "No such file\n");
      continue;
    }
    const int length = static_cast<int>(name.text.size());
    if (send_file(s, file.get())) {
      say(s.output, "%.*s SENT SUCCESSFULLY!\n", length, name.text.data());
      return;
    }
    say(s.output, "ERROR SENDING %.*s\n", length, name.text.data());
  }
}

}  // namespace brevinmarquest

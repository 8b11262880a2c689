// Plays one whole session per input through main_menu, on in-memory standard input and output,
// a fake driver and a small in-memory file system, all drawn from the input, and aborts when the
// session breaks one of the promises listed in doc/developing.md's fuzzing section.
//
// Input layout: the bytes up to the first "\n--- " are standard input. Every "\n--- " starts a
// part whose first line is its header: "driver" makes the rest the driver's script; any other
// header names a file, whose contents are the rest, and "NAME N" makes reading that file fail at
// offset N; "output N" makes the console output fail after N bytes. The script gives one byte to
// each call, and a call past its end succeeds:
//   - finding the driver: 0xFF means no driver library could be loaded;
//   - opening: B >= 0xF0 fails with status B - 0xEF;
//   - writing: B >= 0xE0 returns status (B - 0xE0) % 8 and reports the count
//     {0, 1, 2, 0xFFFFFFFF}[(B - 0xE0) / 8]; 0xDF takes the byte and the user stops the tool
//     (Ctrl-C) while the write is under way; anything else takes the byte.
#include <sys/types.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_writer.h"
#include "memory_file.h"
#include "console/main_menu.h"
#include "console/token_reader.h"
#include "transfer/session.h"

namespace brevinmarquest::fuzz {
namespace {

using platform::DeviceStatus;

constexpr std::string_view part_separator = "\n--- ";
constexpr std::string_view hand_prompt = "Enter a number between 0 and 255 (Q to quit): ";
constexpr std::string_view total_suffix = " total bytes written";
constexpr std::string_view success_suffix = " SENT SUCCESSFULLY!";
// The longest line the tool composes itself: the hand-entry prompt followed by a total line
// with a 20-digit total. A file name of at most 99 characters may come on top.
constexpr std::size_t longest_text = hand_prompt.size() + 3 + 20 + total_suffix.size();
constexpr std::size_t longest_token = command_capacity - 1;
constexpr int largest_byte = 255;
constexpr unsigned char stop_during_write = 0xDF;
// 128 plus SIGINT's number, as the shell reports a program that SIGINT ended.
constexpr int stopped_by_sigint = 130;

void require(bool kept, const char* promise) {
  if (kept) return;
  std::fprintf(stderr, "session broke its promise: %s\n", promise);
  std::abort();
}

struct fake_file {
  std::string name;
  std::string contents;
  // Offset at which reading reports an error instead of data; none reads to the end.
  std::optional<std::size_t> fails_at;
};

// One opening of a fake file, as the tool's FILE sees it.
struct opened_file {
  const fake_file* file = nullptr;
  testing::memory_file stream;
  // Whether a link was opened while this file was open, and how it ended.
  bool linked = false;
  bool link_sent_all = false;
};

// One open link as the fake driver sees it.
struct link_state {
  bool open = false;
  // The file being sent, or null in hand entry.
  opened_file* sending = nullptr;
  std::size_t writes = 0;
  // Bytes reported written since the open.
  std::uint64_t total = 0;
  // Whether a write failed; the link may then only be closed.
  bool failed = false;
};

// What follows the last line break; no break at all wraps npos + 1 round to 0, the whole text.
std::string_view last_line(std::string_view text) { return text.substr(text.rfind('\n') + 1); }

// The last line that a line break ended, or nothing.
std::string_view last_whole_line(std::string_view text) {
  const std::size_t end = text.rfind('\n');
  return end == std::string_view::npos ? std::string_view{} : last_line(text.substr(0, end));
}

// Everything one session talks to, drawn from one fuzzer input.
struct world {
  std::string input_bytes;
  std::string_view script;
  std::vector<fake_file> files;
  std::vector<std::unique_ptr<opened_file>> openings;
  // Values of the entries typed on standard input that hand entry may send, in order.
  std::vector<int> typed_values;
  std::size_t typed_used = 0;
  link_state link;
  // Its address is the device handle.
  int handle_target = 0;
  platform::driver_calls calls{};
  // The console output the tool flushed so far, up to where it fails.
  std::string printed;
  std::optional<std::size_t> output_fails_at;
  bool output_failed = false;
  // Standard error, which stays when the output fails.
  std::string explained;
  // Standard input, and how far it had been read when the output failed.
  FILE* input = nullptr;
  long read_when_output_failed = 0;
  // The line each write's total must appear on, in the order of the writes.
  std::vector<std::string> expected_totals;
  // The user's stop, once it came.
  int stop = 0;
  const console* c = nullptr;

  // The next byte of the driver's script; once it runs out the device works.
  unsigned char next_script_byte() {
    if (script.empty()) return 0;
    const auto byte = static_cast<unsigned char>(script.front());
    script.remove_prefix(1);
    return byte;
  }

  // The part of the current output line printed so far.
  std::string_view open_line() const { return last_line(printed); }

  opened_file* file_being_read() {
    const auto open = std::find_if(openings.begin(), openings.end(),
                                   [](const auto& opening) { return !opening->stream.closed; });
    return open == openings.end() ? nullptr : open->get();
  }
};

std::optional<std::size_t> offset_from(std::string_view text) {
  std::size_t offset = 0;
  const char* end = text.data() + text.size();
  if (text.size() > 6 || std::from_chars(text.data(), end, offset).ptr != end || text.empty()) {
    return std::nullopt;
  }
  return offset;
}

void add_part(world& w, std::string_view part) {
  const std::string_view header = part.substr(0, part.find('\n'));
  const std::string_view body = part.substr(std::min(header.size() + 1, part.size()));
  const std::string_view name = header.substr(0, header.find(' '));
  const bool numbered = name.size() < header.size();
  const auto offset = numbered ? offset_from(header.substr(name.size() + 1)) : std::nullopt;
  if (header == "driver") {
    w.script = body;
  } else if (name == "output" && numbered) {
    w.output_fails_at = offset;
  } else {
    w.files.push_back({std::string(name), std::string(body), offset});
  }
}

// The values hand entry may send, read as C reads a decimal integer. fmemopen wants a buffer it
// may write to, though it reads only.
// cppcheck-suppress constParameterReference
std::vector<int> typed_values_of(std::string& input) {
  std::vector<int> values;
  FILE* stream = fmemopen(input.data(), input.size(), "rb");
  require(stream != nullptr, "the harness reads the typed values");
  char buffer[entry_capacity];
  for (;;) {
    const token t = read_token(stream, buffer, sizeof buffer);
    if (t.status == token_status::end_of_input) break;
    const int value = t.status == token_status::read ? static_cast<int>(std::strtol(buffer, nullptr, 10)) : -1;
    if (value >= 0 && value <= largest_byte) values.push_back(value);
  }
  std::fclose(stream);
  return values;
}

void parse(world& w, std::string_view data) {
  std::size_t end = data.find(part_separator);
  w.input_bytes = std::string(data.substr(0, end));
  while (end != std::string_view::npos) {
    const std::size_t start = end + part_separator.size();
    end = data.find(part_separator, start);
    add_part(w, data.substr(start, end == std::string_view::npos ? end : end - start));
  }
  w.typed_values = typed_values_of(w.input_bytes);
}

// What the session said for the console output so far: what the console took, then what it
// still owes.
std::string said(const world& w) {
  std::string text = w.printed;
  for (const auto& [stream, owed] : w.c->owed) {
    if (stream == platform::console_stream::output) text += owed;
  }
  return text;
}

// The dialog prints its verdict on a file before it closes it.
void check_verdict(const world& w, const opened_file& opening) {
  if (w.output_failed) return;
  const bool reported =
      last_whole_line(said(w)) == opening.file->name + std::string(success_suffix);
  const bool sent_cleanly = opening.linked && opening.link_sent_all && !opening.stream.read_failed;
  require(reported == sent_cleanly, "a file is reported sent exactly when all of it was sent");
}

FILE* open_fake_file(world& w, const char* name) {
  for (const fake_file& file : w.files) {
    if (file.name != name) continue;
    auto opening = std::make_unique<opened_file>();
    opening->file = &file;
    opening->stream.contents = file.contents;
    opening->stream.fails_at = file.fails_at;
    opening->stream.on_close = [&w, &opened = *opening] {
      require(!opened.stream.closed, "each file is closed once");
      check_verdict(w, opened);
    };
    FILE* stream = testing::open_memory_file(opening->stream);
    if (stream) w.openings.push_back(std::move(opening));
    return stream;
  }
  return nullptr;
}

platform::console_write write_console(world& w, platform::console_stream stream,
                                      std::string_view text) {
  if (stream == platform::console_stream::diagnostics) {
    w.explained.append(text);
    return {text.size(), false, {}};
  }
  const std::size_t room = w.output_fails_at.value_or(SIZE_MAX) - w.printed.size();
  w.printed.append(text.substr(0, room));
  if (text.size() <= room) return {text.size(), false, {}};
  if (!w.output_failed) w.read_when_output_failed = std::ftell(w.input);
  w.output_failed = true;
  return {0, true, "Broken pipe"};
}

// The fake driver's calls.

// The session being played; the driver's calls are free functions, as a library's are.
world* playing = nullptr;

DeviceStatus open_device(std::int32_t index, void** handle) {
  world& w = *playing;
  require(index == 0, "only device 0 is opened");
  require(!w.link.open, "no device is opened twice");
  const unsigned char choice = w.next_script_byte();
  if (choice >= 0xF0) return choice - 0xEF;
  w.link = link_state{true, w.file_being_read(), 0, 0, false};
  if (w.link.sending) w.link.sending->linked = true;
  *handle = &w.handle_target;
  return 0;
}

void check_sent_byte(world& w, unsigned char byte) {
  const link_state& link = w.link;
  if (link.sending) {
    const opened_file& opening = *link.sending;
    require(link.writes < opening.stream.delivered, "only bytes read from the file are sent");
    require(byte == static_cast<unsigned char>(opening.file->contents[link.writes]),
            "a file is sent in its order from its first byte");
    require(w.output_failed || w.open_line() == std::to_string(byte) + " ",
            "each file byte is echoed before it is sent");
    return;
  }
  while (w.typed_used < w.typed_values.size() && w.typed_values[w.typed_used] != byte) {
    ++w.typed_used;
  }
  require(w.typed_used < w.typed_values.size(), "hand entry sends only typed values, in order");
  ++w.typed_used;
  require(w.output_failed || w.open_line() == hand_prompt, "hand entry prompts before each byte");
}

DeviceStatus write_device(void* handle, void* buffer, std::uint32_t count, std::uint32_t* written) {
  world& w = *playing;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  link_state& link = w.link;
  require(link.open && handle == &w.handle_target, "writes come only on an open link");
  require(count == 1, "one byte per write");
  require(!link.failed, "nothing is sent after a failed write");
  require(!w.stop, "nothing is sent after a stop");
  check_sent_byte(w, bytes[0]);
  const unsigned char choice = w.next_script_byte();
  constexpr std::uint32_t reported_counts[] = {0, 1, 2, UINT32_MAX};
  if (choice == stop_during_write) w.stop = 2;
  const DeviceStatus status = choice >= 0xE0 ? (choice - 0xE0) & 7 : 0;
  *written = choice >= 0xE0 ? reported_counts[(choice - 0xE0) >> 3] : 1;
  ++link.writes;
  link.total += *written;
  link.failed = status != 0 || *written != 1;
  w.expected_totals.push_back(std::string(w.open_line()) + "   " + std::to_string(link.total) +
                              std::string(total_suffix));
  return status;
}

DeviceStatus close_device(void* handle) {
  world& w = *playing;
  require(w.link.open && handle == &w.handle_target, "only an open device is closed");
  if (w.link.sending) {
    w.link.sending->link_sent_all =
        !w.link.failed && w.link.writes == w.link.sending->file->contents.size();
  }
  w.link.open = false;
  return 0;
}

// Checks made once the session has ended.

void check_output(const world& w) {
  std::vector<std::string_view> totals;
  for (std::string_view rest = w.printed; !rest.empty();) {
    const std::string_view line = rest.substr(0, rest.find('\n'));
    rest.remove_prefix(std::min(line.size() + 1, rest.size()));
    require(line.size() <= longest_text + longest_token, "no output line is over-long");
    if (line.size() >= total_suffix.size() &&
        line.substr(line.size() - total_suffix.size()) == total_suffix) {
      totals.push_back(line);
    }
  }
  if (w.output_failed) return;
  require(totals.size() == w.expected_totals.size(), "one total line per write");
  require(std::equal(totals.begin(), totals.end(), w.expected_totals.begin()),
          "each total counts the bytes reported since the open");
}

void check_end(const world& w, int status) {
  require((status == stopped_by_sigint) == (w.stop != 0), "a stop ends the session with 130");
  require(!w.stop || w.explained.find("stopped by SIGINT") != std::string::npos,
          "a stop is explained on standard error, whatever became of the output");
  require(w.stop || status == 0 || status == input_ended_status, "the session ends with 0 or 1");
  if (status == input_ended_status) {
    require(std::feof(w.input) || w.output_failed, "status 1 means the input or output ended");
  }
  if (w.output_failed && !w.stop) {
    require(std::ftell(w.input) == w.read_when_output_failed,
            "nothing more is read once nobody can see the dialogue");
  }
  require(!w.link.open, "every opened device is closed");
  for (const auto& opening : w.openings) require(opening->stream.closed, "every opened file is closed");
  check_output(w);
}

void play(std::string_view data) {
  const auto played = std::make_unique<world>();
  world& w = *played;
  parse(w, data);
  playing = played.get();
  w.calls.open_by_index = open_device;
  w.calls.write = write_device;
  w.calls.close = close_device;
  FILE* input = fmemopen(w.input_bytes.data(), w.input_bytes.size(), "rb");
  w.input = input;
  require(input != nullptr, "the harness has its input");
  console c;
  c.io.input = input;
  c.io.stops.requested = [] { return playing->stop; };
  c.io.write = [&w](platform::console_stream stream, std::string_view text) {
    return write_console(w, stream, text);
  };
  session s;
  s.driver = [&w](std::string& why) -> const platform::driver_calls* {
    if (w.next_script_byte() != 0xFF) return &w.calls;
    why = "no driver in this session";
    return nullptr;
  };
  s.open_file = [&w](const char* name) { return open_fake_file(w, name); };
  w.c = &c;
  const int status = main_menu(s, c);
  check_end(w, status);
  std::fclose(input);
}

}  // namespace
}  // namespace brevinmarquest::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brevinmarquest::fuzz::play({reinterpret_cast<const char*>(data), size});
  return 0;
}

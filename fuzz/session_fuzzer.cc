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
//     {0, 1, 2, 0xFFFFFFFF}[(B - 0xE0) / 8]; anything else takes the byte.
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
constexpr std::size_t longest_token = 99;
constexpr std::size_t hand_entry_capacity = 3;
constexpr int largest_byte = 255;

[[noreturn]] void broken(const char* promise) {
  std::fprintf(stderr, "session broke its promise: %s\n", promise);
  std::abort();
}

void require(bool kept, const char* promise) {
  if (!kept) broken(promise);
}

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

struct fake_file {
  std::string name;
  std::string contents;
  // Offset at which reading reports an error instead of data; none reads to the end.
  std::optional<std::size_t> fails_at;
};

// One opening of a fake file, as the tool's FILE sees it.
struct opened_file {
  // The session it belongs to, whose output shows the verdict on the file.
  const struct world* owner = nullptr;
  const fake_file* file = nullptr;
  // Bytes handed to the tool's stream so far.
  std::size_t delivered = 0;
  // Whether reading reported an error to the tool.
  bool read_failed = false;
  bool closed = false;
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
  // Standard input, and how far it had been read when the output failed.
  FILE* input = nullptr;
  long read_when_output_failed = 0;
  // The line each write's total must appear on, in the order of the writes.
  std::vector<std::string> expected_totals;

  // The next byte of the driver's script; once it runs out the device works.
  unsigned char next_script_byte() {
    if (script.empty()) return 0;
    const auto byte = static_cast<unsigned char>(script.front());
    script.remove_prefix(1);
    return byte;
  }

  std::string_view output() const { return printed; }

  // The part of the current output line printed so far.
  std::string_view open_line() const {
    const std::string_view text = output();
    const std::size_t end = text.rfind('\n');
    return end == std::string_view::npos ? text : text.substr(end + 1);
  }

  opened_file* file_being_read() {
    const auto open = std::find_if(openings.begin(), openings.end(),
                                   [](const auto& opening) { return !opening->closed; });
    return open == openings.end() ? nullptr : open->get();
  }
};

std::optional<std::size_t> offset_from(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  std::size_t offset = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    offset = offset * 10 + static_cast<std::size_t>(c - '0');
  }
  return offset;
}

void add_part(world& w, std::string_view part) {
  const std::size_t header_end = part.find('\n');
  const std::string_view header = part.substr(0, header_end);
  const std::string_view body =
      header_end == std::string_view::npos ? std::string_view{} : part.substr(header_end + 1);
  const std::size_t blank = header.find(' ');
  if (header == "driver") {
    w.script = body;
    return;
  }
  if (blank != std::string_view::npos && header.substr(0, blank) == "output") {
    w.output_fails_at = offset_from(header.substr(blank + 1));
    return;
  }
  fake_file file{std::string(header.substr(0, blank)), std::string(body), std::nullopt};
  if (blank != std::string_view::npos) file.fails_at = offset_from(header.substr(blank + 1));
  w.files.push_back(std::move(file));
}

// Hand entry converts an entry as a signed decimal up to the first non-digit.
std::optional<int> typed_value(std::string_view entry) {
  std::size_t at = 0;
  const bool negative = !entry.empty() && entry[0] == '-';
  if (!entry.empty() && (entry[0] == '-' || entry[0] == '+')) at = 1;
  int magnitude = 0;
  for (; at < entry.size() && entry[at] >= '0' && entry[at] <= '9'; ++at) {
    magnitude = magnitude * 10 + (entry[at] - '0');
  }
  const int value = negative ? -magnitude : magnitude;
  if (value < 0 || value > largest_byte) return std::nullopt;
  return value;
}

std::vector<int> typed_values_of(std::string_view input) {
  std::vector<int> values;
  std::size_t at = 0;
  while (at < input.size()) {
    while (at < input.size() && is_white_space(input[at])) ++at;
    const std::size_t start = at;
    while (at < input.size() && !is_white_space(input[at])) ++at;
    const std::string_view entry = input.substr(start, at - start);
    if (entry.empty() || entry.size() > hand_entry_capacity) continue;
    if (const auto value = typed_value(entry)) values.push_back(*value);
  }
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

// The fake file system's stream callbacks.

ssize_t read_file(void* cookie, char* buffer, std::size_t size) {
  auto& opening = *static_cast<opened_file*>(cookie);
  const fake_file& file = *opening.file;
  const std::size_t end = std::min(file.contents.size(), file.fails_at.value_or(SIZE_MAX));
  if (opening.delivered == end && file.fails_at && *file.fails_at <= file.contents.size()) {
    opening.read_failed = true;
    return -1;
  }
  const std::size_t count = std::min(size, end - opening.delivered);
  file.contents.copy(buffer, count, opening.delivered);
  opening.delivered += count;
  return static_cast<ssize_t>(count);
}

std::string_view last_whole_line(std::string_view text) {
  const std::size_t end = text.rfind('\n');
  if (end == std::string_view::npos) return {};
  const std::size_t previous = end == 0 ? std::string_view::npos : text.rfind('\n', end - 1);
  const std::size_t start = previous == std::string_view::npos ? 0 : previous + 1;
  return text.substr(start, end - start);
}

// The dialog prints its verdict on a file before it closes it.
void check_verdict(const world& w, const opened_file& opening) {
  if (w.output_failed) return;
  const bool reported =
      last_whole_line(w.output()) == opening.file->name + std::string(success_suffix);
  const bool sent_cleanly = opening.linked && opening.link_sent_all && !opening.read_failed;
  require(reported == sent_cleanly, "a file is reported sent exactly when all of it was sent");
}

int close_file(void* cookie) {
  auto& opening = *static_cast<opened_file*>(cookie);
  require(!opening.closed, "each file is closed once");
  check_verdict(*opening.owner, opening);
  opening.closed = true;
  return 0;
}

FILE* open_fake_file(world& w, const char* name) {
  for (const fake_file& file : w.files) {
    if (file.name != name) continue;
    auto opening = std::make_unique<opened_file>();
    opening->owner = &w;
    opening->file = &file;
    cookie_io_functions_t functions{};
    functions.read = read_file;
    functions.close = close_file;
    FILE* stream = fopencookie(opening.get(), "rb", functions);
    if (stream) w.openings.push_back(std::move(opening));
    return stream;
  }
  return nullptr;
}

ssize_t write_output(void* cookie, const char* text, std::size_t size) {
  world& w = *static_cast<world*>(cookie);
  const std::size_t room = w.output_fails_at.value_or(SIZE_MAX) - w.printed.size();
  w.printed.append(text, std::min(size, room));
  if (size <= room) return static_cast<ssize_t>(size);
  if (!w.output_failed) w.read_when_output_failed = std::ftell(w.input);
  w.output_failed = true;
  return -1;
}

FILE* open_output(world& w) {
  cookie_io_functions_t functions{};
  functions.write = write_output;
  return fopencookie(&w, "w", functions);
}

// The fake driver's calls.

world& world_of(void* state) { return *static_cast<world*>(state); }

DeviceStatus open_device(void* state, std::int32_t index, void** handle) {
  world& w = world_of(state);
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
    require(link.writes < opening.delivered, "only bytes read from the file are sent");
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

DeviceStatus write_device(void* state, void* handle, unsigned char* bytes, std::uint32_t count,
                          std::uint32_t* written) {
  world& w = world_of(state);
  link_state& link = w.link;
  require(link.open && handle == &w.handle_target, "writes come only on an open link");
  require(count == 1, "one byte per write");
  require(!link.failed, "nothing is sent after a failed write");
  check_sent_byte(w, bytes[0]);
  const unsigned char choice = w.next_script_byte();
  constexpr std::uint32_t reported_counts[] = {0, 1, 2, UINT32_MAX};
  const DeviceStatus status = choice >= 0xE0 ? (choice - 0xE0) & 7 : 0;
  *written = choice >= 0xE0 ? reported_counts[(choice - 0xE0) >> 3] : 1;
  ++link.writes;
  link.total += *written;
  link.failed = status != 0 || *written != 1;
  w.expected_totals.push_back(std::string(w.open_line()) + "   " + std::to_string(link.total) +
                              std::string(total_suffix));
  return status;
}

DeviceStatus close_device(void* state, void* handle) {
  world& w = world_of(state);
  require(w.link.open && handle == &w.handle_target, "only an open device is closed");
  if (w.link.sending) {
    w.link.sending->link_sent_all =
        !w.link.failed && w.link.writes == w.link.sending->file->contents.size();
  }
  w.link.open = false;
  return 0;
}

void fill_driver(world& w) {
  w.calls.state = &w;
  w.calls.open_by_index = open_device;
  w.calls.write = write_device;
  w.calls.close = close_device;
  w.calls.library = "the fuzzer's fake driver";
  w.calls.passed_over = "";
}

// Checks made once the session has ended.

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool ends_with(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

void check_output(const world& w) {
  std::vector<std::string_view> totals;
  for (const std::string_view line : lines_of(w.output())) {
    require(line.size() <= longest_text + longest_token, "no output line is over-long");
    if (ends_with(line, total_suffix)) totals.push_back(line);
  }
  if (w.output_failed) return;
  require(totals.size() == w.expected_totals.size(), "one total line per write");
  for (std::size_t i = 0; i < totals.size(); ++i) {
    require(totals[i] == w.expected_totals[i],
            "each total counts the bytes reported since the open");
  }
}

void check_end(const world& w, int status, FILE* input) {
  require(status == 0 || status == input_ended_status, "the session ends with 0 or 1");
  if (status == input_ended_status) {
    require(std::feof(input) || w.output_failed, "status 1 means the input or output ended");
  }
  if (w.output_failed) {
    require(std::ftell(input) == w.read_when_output_failed,
            "nothing more is read once nobody can see the dialogue");
  }
  require(!w.link.open, "every opened device is closed");
  for (const auto& opening : w.openings) require(opening->closed, "every opened file is closed");
  check_output(w);
}

void play(std::string_view data) {
  world w;
  parse(w, data);
  fill_driver(w);
  FILE* input = fmemopen(w.input_bytes.data(), w.input_bytes.size(), "rb");
  w.input = input;
  FILE* output = open_output(w);
  char* diagnostics_text = nullptr;
  std::size_t diagnostics_size = 0;
  FILE* diagnostics = open_memstream(&diagnostics_text, &diagnostics_size);
  require(input && output && diagnostics, "the harness has its streams");
  const session s{
      input,
      output,
      diagnostics,
      standard_reading(),
      [&w](std::string& why) -> const platform::driver_calls* {
        if (w.next_script_byte() != 0xFF) return &w.calls;
        why = "no driver in this session";
        return nullptr;
      },
      [&w](const char* name) { return open_fake_file(w, name); },
      {},
  };
  const int status = main_menu(s);
  std::fflush(output);
  check_end(w, status, input);
  std::fclose(input);
  std::fclose(output);
  std::fclose(diagnostics);
  std::free(diagnostics_text);
}

}  // namespace
}  // namespace brevinmarquest::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  brevinmarquest::fuzz::play({reinterpret_cast<const char*>(data), size});
  return 0;
}

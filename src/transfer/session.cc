#include "transfer/session.h"

namespace brevinmarquest {
namespace {

using platform::console_stream;

// Forgets the first `count` bytes owed, all of the first run's or some: the console took them.
void forget_shown(console_text& c, std::size_t count) {
  c.shown += count;
  c.owed.erase(0, count);
  for (auto& run : c.runs) run.first -= count;
  if (c.runs.front().first == 0) c.runs.erase(c.runs.begin());
}

// Writes the runs in order. Once a stop came nothing more is written, a write it cut short
// included, unless the tool is ending and must write everything. A console that is gone takes
// the rest of the run unseen.
shown write_owed(const session& s, bool to_the_end) {
  console_text& c = s.console;
  while (!c.runs.empty()) {
    if (!to_the_end && s.stops.requested()) return shown::stopped;
    const auto [end, stream] = c.runs.front();
    const bool gone = stream == console_stream::output && c.output_failed;
    const platform::console_write wrote =
        gone ? platform::console_write{0, true}
             : s.write(stream, std::string_view(c.owed).substr(0, end));
    if (wrote.failed && stream == console_stream::output) c.output_failed = true;
    forget_shown(c, wrote.failed ? end : wrote.taken);
  }
  return c.output_failed ? shown::failed : shown::all;
}

}  // namespace

void end_text(const session& s, console_stream stream) {
  console_text& c = s.console;
  if (!c.runs.empty() && c.runs.back().second == stream) {
    c.runs.back().first = c.owed.size();
  } else {
    c.runs.emplace_back(c.owed.size(), stream);
  }
}

shown show(const session& s) { return write_owed(s, false); }

void show_all(const session& s) { write_owed(s, true); }

std::uint64_t text_mark(const session& s) { return s.console.shown + s.console.owed.size(); }

bool take_back(const session& s, std::uint64_t mark) {
  console_text& c = s.console;
  if (mark < c.shown) return false;
  // What is taken back is the end of the last run; a run left empty is written as nothing.
  c.owed.resize(static_cast<std::size_t>(mark - c.shown));
  c.runs.back().first = c.owed.size();
  return true;
}

std::string quoted(std::string_view text) {
  std::string data = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    data += byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\' ? escape : std::string(1, c);
  }
  return data + "\"";
}

token next_token(const session& s, char* buffer, std::size_t capacity) {
  if (show(s) == shown::failed) return {token_status::end_of_input, {}};
  return read_token(s.input, buffer, capacity);
}

}  // namespace brevinmarquest

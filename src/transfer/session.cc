#include "transfer/session.h"

namespace brevinmarquest {
namespace {

using platform::console_stream;

// Forgets the first `count` bytes owed, which the console took.
void drop_shown(console_text& c, std::size_t count) {
  c.shown += count;
  if (count == c.owed.size()) {
    c.owed.clear();
    c.runs.clear();
    return;
  }
  c.owed.erase(0, count);
  std::size_t gone = 0;
  for (auto& run : c.runs) {
    run.first -= count;
    if (run.first == 0) ++gone;
  }
  c.runs.erase(c.runs.begin(), c.runs.begin() + static_cast<std::ptrdiff_t>(gone));
}

// Writes the runs in order. A stop that cuts a write short ends it there, unless the tool is
// ending and must write everything.
shown write_owed(const session& s, bool to_the_end) {
  console_text& c = s.console;
  while (!c.runs.empty()) {
    const auto [end, stream] = c.runs.front();
    const platform::console_write wrote =
        stream == console_stream::output && c.output_failed
            ? platform::console_write{0, false, true}
            : s.write(stream, std::string_view(c.owed).substr(0, end));
    // A console that is gone takes the rest of the run unseen.
    drop_shown(c, wrote.failed ? end : wrote.taken);
    if (wrote.failed && stream == console_stream::output) c.output_failed = true;
    if (wrote.interrupted && s.stops.requested() && !to_the_end) return shown::stopped;
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

shown show(const session& s) {
  if (s.stops.requested() && !s.console.owed.empty()) return shown::stopped;
  return write_owed(s, false);
}

void show_all(const session& s) { write_owed(s, true); }

std::uint64_t text_mark(const session& s) { return s.console.shown + s.console.owed.size(); }

bool take_back(const session& s, std::uint64_t mark) {
  console_text& c = s.console;
  if (mark < c.shown) return false;
  c.owed.resize(static_cast<std::size_t>(mark - c.shown));
  while (!c.runs.empty()) {
    const std::size_t start = c.runs.size() > 1 ? c.runs[c.runs.size() - 2].first : 0;
    if (start < c.owed.size()) {
      c.runs.back().first = c.owed.size();
      break;
    }
    c.runs.pop_back();
  }
  return true;
}

token next_token(const session& s, char* buffer, std::size_t capacity) {
  if (show(s) == shown::failed) return {token_status::end_of_input, {}};
  return read_token(s.input, buffer, capacity);
}

}  // namespace brevinmarquest

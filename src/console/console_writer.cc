#include "console/console_writer.h"

#include <numeric>

namespace brevinmarquest {
namespace {

using platform::console_stream;

// Writes the texts in order. Once a stop came nothing more is written, a write it cut short
// included, unless the tool is ending and must write everything. A console that is gone takes
// the rest of the text unseen.
shown write_owed(console& c, bool to_the_end) {
  while (!c.owed.empty() && !c.owed.front().second.empty()) {
    if (!to_the_end && c.io.stop()) return shown::stopped;
    auto& [stream, text] = c.owed.front();
    const bool gone = stream == console_stream::output && c.output_failed;
    const platform::console_write wrote =
        gone ? platform::console_write{0, true, {}} : c.io.write(stream, text);
    if (wrote.failed && stream == console_stream::output && !c.output_failed) {
      c.output_failed = true;
      // Else a script could not tell this end from the end of its input.
      explain(c, "brevinmarquest: standard output cannot be written: ", wrote.why, "\n");
    }
    const std::size_t taken = wrote.failed ? text.size() : wrote.taken;
    c.shown += taken;
    text.erase(0, taken);
    // The last piece stays, empty, so that a byte's texts need no new room each time.
    if (text.empty() && c.owed.size() > 1) c.owed.pop_front();
  }
  return c.output_failed ? shown::failed : shown::all;
}

}  // namespace

std::string& owed_to(console& c, console_stream stream) {
  // The empty piece the writer left keeps its room, and takes the stream of what joins it.
  if (!c.owed.empty() && c.owed.back().second.empty()) c.owed.back().first = stream;
  if (c.owed.empty() || c.owed.back().first != stream) c.owed.emplace_back(stream, "");
  return c.owed.back().second;
}

shown show(console& c) { return write_owed(c, false); }

void show_all(console& c) { write_owed(c, true); }

std::uint64_t text_mark(const console& c) {
  return std::accumulate(
      c.owed.begin(), c.owed.end(), c.shown,
      [](std::uint64_t mark, const auto& piece) { return mark + piece.second.size(); });
}

bool take_back(console& c, std::uint64_t mark) {
  if (mark < c.shown) return false;
  for (std::uint64_t excess = text_mark(c) - mark; excess > 0;) {
    std::string& text = c.owed.back().second;
    const auto cut = static_cast<std::size_t>(std::min<std::uint64_t>(excess, text.size()));
    text.resize(text.size() - cut);
    excess -= cut;
    if (text.empty()) c.owed.pop_back();
  }
  return true;
}

token next_token(console& c, char* buffer, std::size_t capacity) {
  if (show(c) == shown::failed) return {token_status::end_of_input, {}};
  return read_token(c.io.input, buffer, capacity);
}

std::string quoted(std::string_view text) {
  std::string data = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    data += byte < 0x20 || byte >= 0x7f || ch == '"' || ch == '\\' ? escape : std::string(1, ch);
  }
  return data + "\"";
}

}  // namespace brevinmarquest

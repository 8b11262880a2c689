#include "console/console_writer.h"

namespace brevinmarquest {
namespace {

using platform::console_stream;

// Writes the texts in order. Once a stop came nothing more is written, a write it cut short
// included, unless the tool is ending and must write everything. A console that is gone takes
// the rest of the text unseen.
shown write_owed(console& c, bool to_the_end) {
  while (!c.owed.empty() && !c.owed.front().second.empty()) {
    if (!to_the_end && c.io.stops.requested()) return shown::stopped;
    auto& [stream, text] = c.owed.front();
    const bool gone = stream == console_stream::output && c.output_failed;
    const platform::console_write wrote =
        gone ? platform::console_write{0, true, {}} : c.io.write(stream, text);
    if (wrote.failed && stream == console_stream::output && !c.output_failed) {
      c.output_failed = true;
      // Else a script could not tell this end from the end of its input.
      explain(c, "brevinmarquest: standard output cannot be written: ", wrote.why, "\n");
    }
    text.erase(0, wrote.failed ? text.size() : wrote.taken);
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

bool unsay(console& c, std::size_t count) {
  if (c.owed.empty() || c.owed.back().first != console_stream::output) return false;
  std::string& text = c.owed.back().second;
  if (text.size() < count) return false;
  text.resize(text.size() - count);
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

#include "recording_host.hpp"

namespace test_support {

int HostRecorder::message_box(const std::string& text, const std::string& caption, unsigned flags) {
  boxes.push_back({text, caption, flags});
  events.push_back("box");
  return platform::id_ok;
}

void HostRecorder::set_busy_cursor(bool busy) { events.push_back(busy ? "busy" : "idle"); }

void HostRecorder::progress(int done, int total) { progress_calls.emplace_back(done, total); }

std::vector<std::string> HostRecorder::texts() const {
  std::vector<std::string> out;
  for (const auto& b : boxes) out.push_back(b.text);
  return out;
}

}  // namespace test_support

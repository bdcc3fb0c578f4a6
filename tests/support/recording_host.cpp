#include "recording_host.hpp"

#include <stdexcept>

namespace test_support {

void RecordingHost::on_window_thread(const std::function<void()>& work) {
  std::lock_guard lock(window_);
  work();
}

int RecordingHost::message_box(const std::string& text, const std::string& caption, unsigned flags) {
  std::lock_guard lock(window_);
  if (boxes_fail) throw std::runtime_error("nessuna finestra");
  boxes.push_back({text, caption, flags});
  events.push_back("box");
  return box_answer;
}

bool RecordingHost::ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) {
  std::lock_guard lock(window_);
  events.push_back("dialog");
  requests.push_back(request);
  offered.push_back(file_name);
  if (chosen_paths.empty()) return false;
  file_name = chosen_paths.front();
  chosen_paths.pop_front();
  return true;
}

void RecordingHost::set_busy_cursor(bool busy) {
  std::lock_guard lock(window_);
  events.push_back(busy ? "busy" : "idle");
}

void RecordingHost::set_foreground_window(frontend::WindowHandle window) {
  std::lock_guard lock(window_);
  foreground = window;
  restored.push_back(window);
}

void RecordingHost::navigate_report(const std::string& url) {
  std::lock_guard lock(window_);
  navigated.push_back(url);
}

void RecordingHost::progress(int done, int total) {
  {
    std::lock_guard lock(window_);
    progress_calls.emplace_back(done, total);
  }
  DesktopHost::progress(done, total);
}

void RecordingHost::wait_until(const std::function<bool()>& done) {
  if (while_waiting) while_waiting();
  DesktopHost::wait_until(done);
}

void RecordingHost::show_progress_dialog() {
  if (progress_shown_) return;
  progress_shown_ = true;
  events.push_back("progress shown");
}

void RecordingHost::update_progress_dialog(bool notify) {
  if (!progress_shown_) return;
  const RunProgress& run = run_progress();
  progress_texts.push_back(run.title() + "|" + run.state());
  if (notify && on_progress) on_progress(run.done(), run.total());
}

void RecordingHost::close_progress_dialog() {
  if (!progress_shown_) return;
  progress_shown_ = false;
  events.push_back("progress closed");
}

bool RecordingHost::ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) {
  questions.push_back({text, caption, flags});
  events.push_back("question");
  if (on_question) on_question(text);
  if (wait_answers.empty()) return false;
  const bool again = wait_answers.front();
  wait_answers.pop_front();
  return again;
}

std::vector<std::string> RecordingHost::texts() const {
  std::vector<std::string> out;
  for (const auto& b : boxes) out.push_back(b.text);
  return out;
}

}  // namespace test_support

#pragma once
// The host of the tests: it shows nothing, records what the system asks of its front end,
// and answers as each test configures it (the save dialog's paths, a box that cannot be
// shown, the user's stop, what the user does while the window waits for the records
// product). It has the desktop hosts' progress dialog state, drawn as recorded events.
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop_host.hpp"

namespace test_support {

class RecordingHost : public DesktopHost {
 public:
  struct Box {
    std::string text, caption;
    unsigned flags = 0;
  };
  /// The progress dialog shows at once (no timer runs here).
  RecordingHost() { set_progress_delay(0); }

  // What was asked, in order.
  std::vector<Box> boxes;
  /// "busy" and "idle" for each cursor change, "box" for each message box, "dialog" for
  /// each file dialog, "progress shown"/"progress closed" for the progress dialog.
  std::vector<std::string> events;
  std::vector<std::pair<int, int>> progress_calls;
  /// What the progress dialog showed, "title|state", at each change.
  std::vector<std::string> progress_texts;
  std::vector<frontend::FileDialogRequest> requests;
  std::vector<std::string> offered;  ///< the file names the dialogs offered
  std::vector<std::string> navigated;
  std::vector<frontend::WindowHandle> restored;  ///< set_foreground_window's windows
  std::vector<std::string> opened_folders;       ///< open_folder's folders
  bool folder_opens = true;                      ///< what open_folder answers

  // The answers.
  /// A message box throws instead of showing (a front end without windows), or answers this.
  bool boxes_fail = false;
  int box_answer = frontend::id_ok;
  /// The file dialogs' answers, in order; none left: the dialog is cancelled.
  std::deque<std::string> chosen_paths;
  frontend::WindowHandle foreground = 0;
  /// The user's stop, from any thread (besides request_cancel).
  std::atomic<bool> stop{false};
  /// Called after each report of progress, with done and total (e.g. to press Annulla).
  std::function<void(int done, int total)> on_progress;
  /// Called on the waiting thread each time it starts to wait for the session thread (what
  /// the user does in the window meanwhile); waits go on until the work is done.
  std::function<void()> while_waiting;
  /// The questions of a call past its limit, as boxes (also "question" in events), and the
  /// doctor's answers in order: true "Attendi ancora", false "Interrompi"; none left:
  /// "Interrompi". on_question is called with each question's text before it is answered.
  std::vector<Box> questions;
  std::deque<bool> wait_answers;
  std::function<void(const std::string& text)> on_question;

  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  bool ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) override;
  void set_busy_cursor(bool busy) override;
  frontend::WindowHandle foreground_window() override { return foreground; }
  void set_foreground_window(frontend::WindowHandle window) override;
  void navigate_report(const std::string& url) override;
  bool open_folder(const std::string& folder) override {
    opened_folders.push_back(folder);
    return folder_opens;
  }
  /// Records the call, then works as a desktop host's.
  void progress(int done, int total) override;
  bool cancel_requested() override { return stop || DesktopHost::cancel_requested(); }
  void wait_until(const std::function<bool()>& done) override;

  /// The texts of the boxes shown, in order.
  std::vector<std::string> texts() const;

 protected:
  void on_window_thread(const std::function<void()>& work) override;
  void start_progress_timer(int) override {}
  void stop_progress_timer() override {}
  void show_progress_dialog() override;
  void update_progress_dialog(bool notify) override;
  void close_progress_dialog() override;
  bool ask_keep_waiting(const std::string& text, const std::string& caption, unsigned flags) override;

 private:
  /// The "window's thread": one caller at a time, the session thread's calls included.
  std::recursive_mutex window_;
  bool progress_shown_ = false;
};

}  // namespace test_support

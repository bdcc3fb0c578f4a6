#include "app/desktop_host.hpp"

#include "app/login.hpp"

std::string slow_answer_text(int seconds) {
  return "Praxilo non risponde da " + std::to_string(seconds) + (seconds == 1 ? " secondo." : " secondi.");
}

void DesktopHost::progress(int done, int total) {
  on_window_thread([&] {
    switch (run_.record(done, total, progress_delay_ > 0)) {
      case RunProgress::Step::nothing:
        return;
      case RunProgress::Step::start_delay:
        start_progress_timer(progress_delay_);
        return;
      case RunProgress::Step::show:
        show_progress_dialog();
        break;
      case RunProgress::Step::update:
        break;
    }
    update_progress_dialog(true);
  });
}

void DesktopHost::progress_delay_elapsed() {
  if (run_.may_show()) show_progress_dialog();
}

bool DesktopHost::cancel_requested() { return run_.cancel_requested(); }

bool DesktopHost::keep_waiting(int seconds) {
  bool again = false;
  on_window_thread([&] {
    again = ask_keep_waiting(slow_answer_text(seconds), caption_.empty() ? application_title : caption_,
                             frontend::mb_iconwarning);
  });
  return again;
}

void DesktopHost::begin_run(Programme programme) {
  end_progress();
  run_.begin(RunProgress::title_for(programme));
  caption_ = programme_info(programme).message_caption;
}

void DesktopHost::request_cancel() {
  if (!run_.request_cancel()) return;
  on_window_thread([this] { update_progress_dialog(true); });
}

void DesktopHost::end_progress() {
  on_window_thread([this] {
    run_.end();
    caption_.clear();
    stop_progress_timer();
    close_progress_dialog();
  });
}

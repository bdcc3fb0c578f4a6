#include "app/desktop_host.hpp"

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

void DesktopHost::begin_run(Programme programme) {
  end_progress();
  run_.begin(RunProgress::title_for(programme));
}

void DesktopHost::request_cancel() {
  if (!run_.request_cancel()) return;
  on_window_thread([this] { update_progress_dialog(true); });
}

void DesktopHost::end_progress() {
  on_window_thread([this] {
    run_.end();
    stop_progress_timer();
    close_progress_dialog();
  });
}

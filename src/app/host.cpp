#include "app/host.hpp"

namespace frontend {

int Host::message_box(const std::string&, const std::string&, unsigned) { return 0; }
bool Host::ask_file_name(const FileDialogRequest&, std::string&) { return false; }
void Host::set_busy_cursor(bool) {}
WindowHandle Host::foreground_window() { return 0; }
void Host::set_foreground_window(WindowHandle) {}
void Host::navigate_report(const std::string&) {}
void Host::refresh_report() {}
void Host::set_report_visible(bool) {}
bool Host::open_folder(const std::string&) { return false; }
void Host::progress(int, int) {}
bool Host::cancel_requested() { return false; }
bool Host::keep_waiting(int) { return false; }

Host& headless_host() {
  static Host headless;
  return headless;
}

}  // namespace frontend

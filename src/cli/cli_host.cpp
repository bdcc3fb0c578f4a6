#include "cli_host.hpp"

#include <cstdio>

#include <fmt/core.h>

int CliHost::message_box(const std::string& text, const std::string&, unsigned) {
  end_progress();
  fmt::print(stderr, "{}\n", text);
  std::fflush(stderr);
  return frontend::id_ok;
}

bool CliHost::ask_file_name(const frontend::FileDialogRequest&, std::string& file_name) {
  file_name = output_path_;
  return true;
}

void CliHost::progress(int done, int total) {
  if (!show_progress_) return;
  if (total > 0)
    fmt::print(stderr, "\rPazienti elaborati: {} di {}", done, total);
  else
    fmt::print(stderr, "\rPazienti elaborati: {}", done);
  std::fflush(stderr);
  progress_shown_ = true;
}

void CliHost::end_progress() {
  if (!progress_shown_) return;
  fmt::print(stderr, "\n");
  progress_shown_ = false;
}

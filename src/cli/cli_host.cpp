#include "cli_host.hpp"

#include <cstdio>

#include <fmt/core.h>

int CliHost::message_box(const std::string& text, const std::string&, unsigned) {
  end_progress();
  // The messages break their lines with CR LF, as a message box takes them; the stream
  // ends each line as the platform does (a CR of the text's own would be doubled).
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  fmt::print(stderr, "{}\n", lines);
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

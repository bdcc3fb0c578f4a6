#include "cli_host.hpp"

#include <cstdio>
#include <exception>

#include <fmt/core.h>

void write_to_stderr(const std::string& text) {
  // fmt rather than stdio: on a Windows console it writes the letters as they are.
  try {
    fmt::print(stderr, "{}", text);
  } catch (const std::exception&) {
    // Lost with the stream; fmt says so by throwing.
  }
  std::fflush(stderr);
}

int CliHost::message_box(const std::string& text, const std::string&, unsigned) {
  end_progress();
  // The messages break their lines with CR LF, as a message box takes them; the stream
  // ends each line as the platform does (a CR of the text's own would be doubled).
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) lines += text[i];
  write_to_stderr(lines + "\n");
  return frontend::id_ok;
}

bool CliHost::ask_file_name(const frontend::FileDialogRequest&, std::string& file_name) {
  file_name = output_path_;
  return true;
}

void CliHost::progress(int done, int total) {
  if (!show_progress_) return;
  if (total > 0)
    write_to_stderr(fmt::format("\rPazienti elaborati: {} di {}", done, total));
  else
    write_to_stderr(fmt::format("\rPazienti elaborati: {}", done));
  progress_shown_ = true;
}

void CliHost::end_progress() {
  if (!progress_shown_) return;
  write_to_stderr("\n");
  progress_shown_ = false;
}

#pragma once
// The command line's host: the save dialog answers with the path given on the command
// line, messages go to standard error as they are, progress is a line on a terminal.
#include <string>

#include "app/host.hpp"

/// Writes text to standard error as it is. A standard error that is closed or full loses
/// it, and nothing else happens: the run's outcome does not depend on it.
void write_to_stderr(const std::string& text);

class CliHost : public frontend::Host {
 public:
  CliHost(std::string output_path, bool show_progress)
      : output_path_(std::move(output_path)), show_progress_(show_progress) {}

  int message_box(const std::string& text, const std::string& caption, unsigned flags) override;
  bool ask_file_name(const frontend::FileDialogRequest& request, std::string& file_name) override;
  void progress(int done, int total) override;
  /// Ends the progress line, if one is shown.
  void end_progress();

 private:
  std::string output_path_;
  bool show_progress_;
  bool progress_shown_ = false;
};

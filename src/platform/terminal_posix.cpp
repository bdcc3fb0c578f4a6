#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/terminal.hpp"

namespace platform {

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  // The arguments are bytes as the caller gave them; the system takes them as UTF-8.
  return std::vector<std::string>(argv, argv + argc);
}

bool keep_standard_streams_apart() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: those below it are open by now.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened == fd) continue;
    if (opened >= 0) close(opened);
    return false;
  }
  return true;
}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

std::optional<std::string> read_password_from_terminal(const std::string& prompt, std::size_t max_size) {
  int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios saved{};
  bool restore = tcgetattr(fd, &saved) == 0;
  if (restore) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  if (write(fd, prompt.data(), prompt.size()) < 0) {
    // Nothing to do: the prompt is a courtesy, the read below still works.
  }
  std::string line;
  char c = 0;
  ssize_t n = 0;
  // One byte more than the limit is kept for a CR before the line end.
  while ((n = read(fd, &c, 1)) == 1 && c != '\n')
    if (line.size() <= max_size + 1) line += c;
  if (restore) tcsetattr(fd, TCSAFLUSH, &saved);
  close(fd);
  if (n < 0) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace platform

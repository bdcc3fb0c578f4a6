#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "child_processes.hpp"
#include "test_support.hpp"

namespace test_support {

void set_environment(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    setenv(name.c_str(), value->c_str(), 1);
  else
    unsetenv(name.c_str());
}

std::vector<ProcessId> live_children(const std::string& program) {
  std::vector<ProcessId> children;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // "pid (program) state ppid ...": the program name may hold blanks and parentheses.
    const std::string stat = read_file(entry.path() / "stat");
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    if (!program.empty() && stat.substr(open + 1, close - open - 1) != program) continue;
    std::istringstream fields(stat.substr(close + 1));
    char state = 0;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == getpid() && state != 'Z') children.push_back(std::stoll(name));
  }
  return children;
}

CommandOutput run_command(const std::string& command) {
  CommandOutput result;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool running_as_root() { return geteuid() == 0; }

bool make_fifo(const std::filesystem::path& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

bool end_process(ProcessId id) { return ::kill(static_cast<pid_t>(id), SIGKILL) == 0; }

bool stop_process(ProcessId id) { return ::kill(static_cast<pid_t>(id), SIGSTOP) == 0; }

bool process_exists(ProcessId id) { return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH; }

// The class lives in the installation's registry.reg: nothing to register.
ServerClass::ServerClass(const std::string&) {}

ServerClass::~ServerClass() = default;

}  // namespace test_support

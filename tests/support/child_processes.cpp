#include "child_processes.hpp"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "test_support.hpp"

namespace test_support {

std::vector<pid_t> live_children(const std::string& program) {
  std::vector<pid_t> children;
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
    if (parent == getpid() && state != 'Z') children.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return children;
}

bool wait_until_no_live_children(const std::string& program) {
  for (int i = 0; i < 500 && !live_children(program).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return live_children(program).empty();
}

}  // namespace test_support

#include <windows.h>

#include "install.hpp"
#include "platform/paths.hpp"
#include "platform/win_text.hpp"
#include "praxilo_class_win.hpp"
#include "protocol/automation_protocol.hpp"

namespace fs = std::filesystem;

namespace praxilo_demo {

// argv holds the ANSI code page's rendering of the arguments: the wide command line keeps
// every letter of a path.
std::vector<std::string> arguments(int, char**) {
  std::vector<std::string> words = platform::protocol::split_command_line(platform::win::narrow(::GetCommandLineW()));
  if (!words.empty()) words.erase(words.begin());
  return words;
}

std::string register_server(const std::string& command_line) { return praxilo_db::register_server_class(command_line); }

std::string unregister_server() { return praxilo_db::unregister_server_class(); }

std::string registry_line(const fs::path& registry) {
  return "set PIVZONA12_REGISTRY=" + platform::path_to_utf8(registry);
}

}  // namespace praxilo_demo

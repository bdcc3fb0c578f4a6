#include <windows.h>

#include "install.hpp"
#include "platform/automation_protocol.hpp"
#include "praxilo_class_win.hpp"
#include "server_os.hpp"
#include "wide_text_win.hpp"

namespace fs = std::filesystem;

namespace praxilo_demo {

const char* const library_file = "praxiapi.dll";
const char* const server_file = "praxilo-server.exe";

// argv holds the ANSI code page's rendering of the arguments: the wide command line keeps
// every letter of a path.
std::vector<std::string> arguments(int, char**) {
  std::vector<std::string> words =
      platform::protocol::split_command_line(praxilo_server::narrow(::GetCommandLineW()));
  if (!words.empty()) words.erase(words.begin());
  return words;
}

fs::path program_directory(const char*) {
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return {};
    if (n < name.size()) {
      name.resize(n);
      break;
    }
    name.resize(name.size() * 2);
  }
  return fs::path(name).parent_path();
}

std::string register_server(const std::string& command_line) { return praxilo_db::register_server_class(command_line); }

std::string unregister_server() { return praxilo_db::unregister_server_class(); }

std::string registry_line(const fs::path& registry) {
  return "set PIVZONA12_REGISTRY=" + praxilo_server::path_text(registry);
}

}  // namespace praxilo_demo

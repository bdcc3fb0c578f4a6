#include "records/px_tools.hpp"

#include <string>
#include <vector>

#include "app/host.hpp"
#include "platform/codepage.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "records/praxiapi_library.hpp"
#include "tools/tools.hpp"

namespace px_tools {

namespace {

const std::string sep(1, platform::path_separator);

bool switch_on(const std::string& folder, const char* name) {
  return tools::read_registry_string(tools::local_machine_root(), folder, name) == "yes";
}

/// The debug log directory. It shares its name with the log directory: on a file system
/// that tells case apart the two spellings would otherwise make two directories.
std::string debug_log_directory_path() { return appl_directory() + "Temp" + sep + "Log" + sep; }

/// Makes (with create) or looks for the installation's folders levels, one inside the
/// other, never through a link in the installation (a link there could lead anywhere, and
/// what is made or written there would land where it leads). True when each is a folder
/// reached without a link; false, and nothing made, without an installation.
bool own_folders(const std::vector<std::string>& levels, bool create) {
  return installation_found() && platform::own_folders_below(appl_directory(), levels, create);
}

const std::vector<std::string> log_levels = {"Temp", "Log"};

}  // namespace

std::string maker_registry_folder() { return "SOFTWARE\\Corvanta-Ferrix\\"; }

std::string gate_registry_folder() { return "SOFTWARE\\Corvanta-Ferrix\\px_gate\\"; }

std::string appl_directory() {
  std::string path;
  try {
    path = tools::read_registry_string(tools::local_machine_root(),
                                       "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\PRAXILO.EXE", "Path");
    // The value lists directories separated by ";"; the first is the installation
    // directory. A value without ";" is taken whole.
    if (const std::size_t semicolon = path.find(';'); semicolon != std::string::npos) path.resize(semicolon);
    for (char& c : path)
      if (c == '\\' || c == '/') c = platform::path_separator;
  } catch (...) {
    path.clear();
  }
  if (!tools::ends_with(path, sep)) path += sep;
  return path;
}

bool installation_found() {
  // Anything else would put the product's folders, and look for its files, somewhere
  // the product is not: under the current directory for a relative path.
  const std::string directory = appl_directory();
  return directory != sep && platform::path_from_utf8(directory).is_absolute() &&
         platform::file_kind(directory) == platform::FileKind::directory;
}

std::string temp_directory() {
  own_folders({"Temp"}, true);
  return appl_directory() + "Temp" + sep;
}

std::string log_directory() {
  own_folders(log_levels, true);
  return appl_directory() + "Temp" + sep + "Log" + sep;
}

bool log_directory_is_own() { return own_folders(log_levels, false); }

bool is_debug() { return switch_on(maker_registry_folder(), "debug"); }

bool is_debuglog() { return switch_on(maker_registry_folder(), "debuglog"); }

bool is_log() { return switch_on(gate_registry_folder(), "log"); }

std::string level_prefix(int level) {
  switch (level) {
    case 1:
      return "Info  -  ";
    case 2:
      return "Warning  -  ";
    default:
      return "Error  -  ";
  }
}

void debug_message(const std::string& text, int level, frontend::Host& host) {
  try {
    const std::string line = level_prefix(level) + text;
    debug_box(line, host);
    debug_log_line(line);
  } catch (...) {
  }
}

void debug_box(const std::string& text, frontend::Host& host) {
  try {
    if (!is_debug()) return;
    host.message_box(text, "PX_GATE DEBUG SYSTEM", frontend::mb_ok | frontend::mb_systemmodal);
  } catch (...) {
  }
}

void debug_log_line(const std::string& text) {
  try {
    // The directories are made for every message, whether or not the debug log is on
    // (never under the root of the file system for want of an installation, nor through a
    // link in it).
    if (!own_folders(log_levels, true)) return;
    const std::string dir = debug_log_directory_path();
    if (!is_debuglog()) return;
    const auto library = load_logging_library();
    if (!library) return;
    const auto open = reinterpret_cast<log_open_fn>(library->symbol("LOG_open_multithreaded"));
    const auto signal = reinterpret_cast<log_signal_fn>(library->symbol("LOG_signal"));
    const auto destroy = reinterpret_cast<log_destroy_fn>(library->symbol("LOG_destroy"));
    if (!open || !signal || !destroy) return;
    // The log holds patient data: owner-only, and never opened through a link planted in
    // its place.
    if (!platform::ensure_private_file(dir + "debug.log")) return;
    const std::string file = platform::to_ansi(dir + "debug.log");
    const int handle = call_log_open(open, "DBG_", file.c_str());
    if (handle == 0) return;
    call_log_signal(signal, handle, platform::to_ansi(text).c_str());
    call_log_destroy(destroy, handle);
  } catch (...) {
  }
}

std::unique_ptr<platform::DynamicLibrary> load_logging_library() {
  const std::string previous = platform::current_directory();
  std::unique_ptr<platform::DynamicLibrary> library;
  try {
    if (platform::set_current_directory(appl_directory())) library = platform::load_library("praxiapi.dll");
  } catch (...) {
    library.reset();
  }
  if (!previous.empty()) platform::set_current_directory(previous);
  return library;
}

}  // namespace px_tools

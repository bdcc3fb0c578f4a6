// A fixture installation of the records product: database, logging library and registry.
#include <stdexcept>

#include "child_processes.hpp"
#include "platform/paths.hpp"
#include "praxilo_db.hpp"
#include "praxilo_install.hpp"
#include "protocol/automation_protocol.hpp"
#include "test_support.hpp"

namespace test_support {

namespace {

void create_database(const std::filesystem::path& file, const std::string& sql_script) {
  std::string error;
  sqlite3* db = praxilo_db::open(platform::path_to_utf8(file), true, error);
  if (!db) throw std::runtime_error("fixture database " + file.string() + ": " + error);
  // A throw-away file: no need to wait for the disk after every statement.
  sqlite3_exec(db, "PRAGMA synchronous=OFF; PRAGMA journal_mode=MEMORY", nullptr, nullptr, nullptr);
  error = praxilo_db::create_schema(db);
  if (error.empty()) error = praxilo_db::exec_script(db, sql_script);
  sqlite3_close(db);
  if (!error.empty()) throw std::runtime_error("fixture database script: " + error);
}

// The command line that starts the stand-in server on the installation in dir; on
// Windows in strict mode, texts only by reference, as a server whose methods take BSTR*
// parameters accepts them (the POSIX pipe protocol has no such distinction).
std::string server_command(const std::filesystem::path& dir) {
  std::vector<std::string> words = {platform::path_to_utf8(bin_program("praxilo-server")),
                                    platform::path_to_utf8(dir / "praxilo.db"), platform::path_to_utf8(dir)};
  if (windows) words.push_back("--strict");
  return platform::protocol::join_command_line(words);
}

}  // namespace

Installation::Installation(const std::string& sql_script, const std::string& extra_registry) {
  create_database(db_file(), sql_script);
  std::filesystem::copy_file(std::filesystem::path(PZ_BIN_DIR) / logging_library_file,
                             dir_.path() / logging_library_file);
  write_registry(extra_registry);
  env_.emplace("PIVZONA12_REGISTRY", platform::path_to_utf8(registry_file()));
  class_.emplace(server_command(dir_.path()));
}

Installation::~Installation() = default;

void Installation::write_registry(const std::string& extra_registry) {
  praxilo_db::RegistrySettings settings;
  settings.app_path = appdir() + ";";
  settings.server_command = server_command(dir_.path());
  std::string text = praxilo_db::registry_text(settings);
  if (!extra_registry.empty()) text += extra_registry + "\r\n";
  write_file(registry_file(), text);
}

}  // namespace test_support

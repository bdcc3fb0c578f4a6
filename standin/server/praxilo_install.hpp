#pragma once
// The registry file of a records product installation, in the registry editor's export
// format, as praxilo-demo and the tests' fixture installations write it.
#include <filesystem>
#include <string>
#include <string_view>

namespace praxilo_db {

/// The logging library's and the server's file names as the build makes them
/// (praxiapi.so / praxiapi.dll, praxilo-server / praxilo-server.exe).
extern const char* const library_file;
extern const char* const server_file;

/// The directory of the running program; the build puts the stand-ins, praxilo-demo and
/// the tests side by side.
std::filesystem::path program_directory();

/// A text as a .reg string value: in double quotes, with "\" and '"' escaped.
std::string reg_string(std::string_view text);

/// What an installation's registry.reg says.
struct RegistrySettings {
  std::string app_path;        ///< App Paths PRAXILO.EXE "Path", e.g. "DIR;DIR/bin;"
  std::string server_command;  ///< Praxilo.Server's LocalServer32 command line
  std::string last_user;       ///< the maker's folder's "ultimo_utente"; omitted when empty
  bool log = true;             ///< the gate folder's "log" = "yes"
};

/// The text of registry.reg ("Windows Registry Editor Version 5.00", CR LF line ends).
std::string registry_text(const RegistrySettings& settings);

}  // namespace praxilo_db

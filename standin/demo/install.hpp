#pragma once
// What differs between the platforms when praxilo-demo makes an installation beyond the
// file names (praxilo_install.hpp): its arguments, how the server class becomes known,
// and how the registry file is named to the programs. One implementation file per platform.
#include <filesystem>
#include <string>
#include <vector>

namespace praxilo_demo {

/// The program's arguments after its name, as UTF-8.
std::vector<std::string> arguments(int argc, char** argv);

/// Makes the class "Praxilo.Server" start command_line. On Windows it is registered in
/// the system registry (HKEY_CLASSES_ROOT); on POSIX registry.reg alone holds it and
/// there is nothing more to do. "" on success, else the reason it failed.
std::string register_server(const std::string& command_line);

/// Removes what register_server made; "" on success, also when there was nothing.
std::string unregister_server();

/// The command that makes registry as the file the programs read their settings from,
/// in the platform's shell.
std::string registry_line(const std::filesystem::path& registry);

}  // namespace praxilo_demo

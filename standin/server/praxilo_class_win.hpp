#pragma once
// The stand-in server's COM class in the Windows registry, under HKEY_CLASSES_ROOT, where
// COM looks a class up by its ProgID (Wine ignores per-user class registrations).
#include <optional>
#include <string>

namespace praxilo_db {

/// The class's ProgID and CLSID.
inline constexpr const wchar_t* server_progid = L"Praxilo.Server";
inline constexpr const wchar_t* server_clsid = L"{7C5CF4CC-4FC5-4671-9581-560C765F07A4}";

/// Registers the class: ProgID -> CLSID -> LocalServer32 = command_line (UTF-8: the
/// server's program and arguments, as join_command_line writes them). "" on success,
/// else the reason it failed.
std::string register_server_class(const std::string& command_line);

/// Removes the class's keys; "" on success, also when nothing was registered.
std::string unregister_server_class();

/// The LocalServer32 command line registered now (UTF-8), or nullopt when there is none.
std::optional<std::string> registered_server_command();

}  // namespace praxilo_db

#pragma once
// The stand-in server's COM class in the Windows registry, under HKEY_CLASSES_ROOT, where
// COM looks a class up by its ProgID (Wine ignores per-user class registrations).
#include <optional>
#include <string>

namespace praxilo_db {

/// The class's ProgID and CLSID.
inline constexpr const wchar_t* server_progid = L"Praxilo.Server";
inline constexpr const wchar_t* server_clsid = L"{7C5CF4CC-4FC5-4671-9581-560C765F07A4}";

/// Registers the class as a local server: ProgID -> CLSID -> LocalServer32 = command_line
/// (UTF-8: the server's program and arguments, as join_command_line writes them), and no
/// in-process server. "" on success, else the reason it failed.
std::string register_server_class(const std::string& command_line);

/// The registry view a class is registered in: the program's own, or on 64-bit Windows
/// the one of 32-bit programs.
enum class ClassView { own, bits32 };

/// Registers the class as an in-process server: ProgID -> CLSID -> InprocServer32 =
/// dll_path (ThreadingModel Apartment, "Arguments" = arguments, the DLL's equivalent of
/// the local server's command line), and no local server. With ClassView::bits32 the
/// CLSID's keys go to the 32-bit programs' view. "" on success, else why not.
std::string register_inproc_server_class(const std::string& dll_path, const std::string& arguments,
                                         ClassView view = ClassView::own);

/// The "Arguments" of the registered in-process server (read in the caller's view), or
/// nullopt when there is none.
std::optional<std::string> registered_inproc_arguments();

/// Removes the class's keys, in both views; "" on success, also when nothing was registered.
std::string unregister_server_class();

/// The LocalServer32 command line registered now (UTF-8), or nullopt when there is none.
std::optional<std::string> registered_server_command();

}  // namespace praxilo_db

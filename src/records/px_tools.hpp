#pragma once
// Where the records product is installed, the diagnostic switches, and the debug
// channel. Nothing is cached: every call reads the registry anew. Directory texts end
// with the platform's separator.
#include <string>

#include "app/host.hpp"

namespace px_tools {

/// "SOFTWARE\Corvanta-Ferrix\", the maker's registry folder.
std::string maker_registry_folder();
/// "SOFTWARE\Corvanta-Ferrix\px_gate\", the gate's registry folder.
std::string gate_registry_folder();

/// The records product's installation directory from its App Paths "Path" value: the
/// text before the first ";", ending with the separator; a lone separator when unset.
std::string appl_directory();
/// True when the registry names the installation directory and it is there: an absolute
/// path (appl_directory is more than a lone separator) of an existing folder.
bool installation_found();
/// appl_directory + "Temp/", created when missing and the installation is found (never
/// under the root of the file system for want of one, nor through a link in the
/// installation: a Temp that is a link is left as it is).
std::string temp_directory();
/// appl_directory + "Temp/Log/", created as temp_directory is.
std::string log_directory();
/// True when the log directory is there and reached without a link in the installation:
/// only then is a log written in it.
bool log_directory_is_own();

/// The switches: on exactly when the registry string is "yes".
bool is_debug();
bool is_debuglog();
bool is_log();

/// The level's prefix: 1 "Info  -  ", 2 "Warning  -  ", anything else "Error  -  ".
std::string level_prefix(int level);

/// Prefixes text with its level and sends it to debug_box and debug_log_line.
void debug_message(const std::string& text, int level, frontend::Host& host);
/// When the debug switch is on, shows text in a system-modal box "PX_GATE DEBUG SYSTEM".
void debug_box(const std::string& text, frontend::Host& host);
/// Makes sure the debug log directory exists; when the debuglog switch is on, writes
/// text as one line of debug.log through the logging library.
void debug_log_line(const std::string& text);

}  // namespace px_tools

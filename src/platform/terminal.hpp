#pragma once
// The terminal, for the command-line front end.
#include <optional>
#include <string>

namespace platform {

/// True when standard error is a terminal.
bool stderr_is_terminal();

/// Writes prompt to the terminal and reads one line from it without echo; nullopt when
/// there is no terminal to ask.
std::optional<std::string> read_password_from_terminal(const std::string& prompt);

}  // namespace platform

#pragma once
// The terminal, for the command-line front end.
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// The program's arguments as UTF-8 texts, the program's name first: argv as it is on
/// POSIX; on Windows the wide command line, since argv holds ANSI text there.
std::vector<std::string> utf8_arguments(int argc, char** argv);

/// True when standard error is a terminal.
bool stderr_is_terminal();

/// Writes prompt to the terminal and reads one line from it without echo; nullopt when
/// there is no terminal to ask.
std::optional<std::string> read_password_from_terminal(const std::string& prompt);

}  // namespace platform

#pragma once
// The terminal, for the command-line front end.
#include <cstddef>
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
/// there is no terminal to ask. The whole line is read (nothing typed is left for the
/// next reader), but no more than max_size + 1 bytes of it are kept: a longer line comes
/// back longer than max_size, cut.
std::optional<std::string> read_password_from_terminal(const std::string& prompt, std::size_t max_size);

}  // namespace platform

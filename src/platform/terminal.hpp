#pragma once
// The terminal and the standard streams, for the front ends.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace platform {

/// The program's arguments as UTF-8 texts, the program's name first: argv as it is on
/// POSIX; on Windows the wide command line, since argv holds ANSI text there.
std::vector<std::string> utf8_arguments(int argc, char** argv);

/// Makes sure standard input, output and error are open, before any file is: one that the
/// caller closed is opened again on the null device, read only. No file opened later then
/// takes its number (and with it what the program writes there, or a password read from
/// it), and a write to a stream that was closed still fails. False when that cannot be
/// done (no null device): the program must then not go on. Nothing to do on Windows,
/// where files are opened as handles that never stand for a standard stream.
bool keep_standard_streams_apart();

/// True when standard error is a terminal.
bool stderr_is_terminal();

/// Writes prompt to the terminal and reads one line from it without echo; nullopt when
/// there is no terminal to ask. The whole line is read (nothing typed is left for the
/// next reader), but no more than max_size + 1 bytes of it are kept: a longer line comes
/// back longer than max_size, cut.
std::optional<std::string> read_password_from_terminal(const std::string& prompt, std::size_t max_size);

}  // namespace platform

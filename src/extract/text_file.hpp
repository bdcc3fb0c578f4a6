#pragma once
// Reading the 8-bit text files that the records product dumps and the builders copy.
#include <string>
#include <string_view>
#include <vector>

/// Every line of the file at path, converted from the ANSI code page to UTF-8, without
/// its line end (LF or CR LF). Throws std::runtime_error naming the path when the file
/// cannot be opened or read.
std::vector<std::string> read_ansi_lines(const std::string& path);
/// The lines of 8-bit text in the ANSI code page, converted to UTF-8, as read_ansi_lines.
std::vector<std::string> ansi_lines(std::string_view bytes);
/// The whole file at path. Throws std::runtime_error naming the path when it cannot be
/// opened or read.
std::string read_bytes(const std::string& path);

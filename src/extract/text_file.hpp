#pragma once
// Reading the 8-bit text files that the records product dumps and the builders copy.
#include <string>
#include <string_view>
#include <vector>

/// The lines of 8-bit text in the ANSI code page, converted to UTF-8, each without its
/// line end (LF or CR LF).
std::vector<std::string> ansi_lines(std::string_view bytes);

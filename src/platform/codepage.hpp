#pragma once
// Conversions between the core's Unicode text (UTF-8 std::string) and the system's
// ANSI code page, used wherever 8-bit text crosses a file, the registry or the log.
#include <string>
#include <string_view>

namespace platform {

/// Name of the ANSI code page as iconv knows it: PIVZONA12_CODEPAGE when set and not
/// empty, else the locale's charset, "UTF-8" under the C/POSIX locale. Worked out once and
/// kept while PIVZONA12_CODEPAGE, LC_ALL, LC_CTYPE and LANG keep their values.
std::string ansi_codepage();

/// UTF-8 text to the ANSI code page; characters the code page cannot hold become "?".
/// Safe to call from several threads at once (each keeps its own conversion handles).
std::string to_ansi(std::string_view utf8);

/// ANSI code page text to UTF-8; bytes that are not valid in the code page become "?".
std::string from_ansi(std::string_view ansi);

}  // namespace platform

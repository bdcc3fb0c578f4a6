#pragma once
// Conversions between the core's Unicode text (UTF-8 std::string) and the system's
// ANSI code page, used wherever 8-bit text crosses a file, the registry or the log.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

/// Bytes taken by the UTF-8 character that starts text: its whole sequence when the lead
/// byte and the continuation bytes are well formed, else 1 (a stray byte stands alone);
/// 0 for empty text. Pure text handling, shared by the conversions and the text tools.
inline std::size_t utf8_sequence_length(std::string_view text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t n = 1;
  if (lead >= 0xF0 && lead <= 0xF4)
    n = 4;
  else if (lead >= 0xE0 && lead <= 0xEF)
    n = 3;
  else if (lead >= 0xC2 && lead <= 0xDF)
    n = 2;
  if (n > text.size()) return 1;
  for (std::size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  return n;
}

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

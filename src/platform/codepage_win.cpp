// The ANSI code page on Windows: GetACP, or PIVZONA12_CODEPAGE given as a number ("1252")
// or a name ("CP1252", "windows-1252", "ISO-8859-1", "UTF-8"); conversions through
// MultiByteToWideChar and WideCharToMultiByte. What the code page cannot hold, or bytes it
// does not define, become "?", as on POSIX.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/codepage.hpp"
#include "platform/utf8.hpp"

namespace platform {

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::optional<UINT> number(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  UINT n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<UINT>(c - '0');
  }
  return n;
}

/// The code page a name stands for; nullopt when Windows does not know it.
std::optional<UINT> code_page_named(const std::string& name) {
  const std::string n = upper(name);
  std::optional<UINT> cp;
  if (n == "UTF-8" || n == "UTF8")
    cp = CP_UTF8;
  else if (n == "ASCII" || n == "US-ASCII")
    cp = 20127;
  else if (n == "LATIN1")
    cp = 28591;
  else if (n.rfind("ISO-8859-", 0) == 0) {
    if (auto part = number(std::string_view(n).substr(9)); part && *part >= 1 && *part <= 15) cp = 28590 + *part;
  } else if (n.rfind("WINDOWS-", 0) == 0)
    cp = number(std::string_view(n).substr(8));
  else if (n.rfind("CP", 0) == 0)
    cp = number(std::string_view(n).substr(2));
  else
    cp = number(n);
  if (cp && *cp != CP_UTF8 && !::IsValidCodePage(*cp)) return std::nullopt;
  return cp;
}

/// The code page of the conversions: the override when set and known, else the
/// system's; an override Windows does not know means UTF-8 on both sides.
UINT active_code_page() {
  if (const char* forced = std::getenv("PIVZONA12_CODEPAGE"); forced && *forced)
    return code_page_named(forced).value_or(CP_UTF8);
  return ::GetACP();
}

/// In the ISO-8859 pages the bytes 0x80-0x9F are the C1 controls; in the Windows pages
/// a byte that Windows maps to a C1 control is one the page leaves undefined.
bool c1_is_defined(UINT cp) { return cp >= 28591 && cp <= 28605; }

std::wstring utf16_of_char(std::string_view utf8_char) {
  wchar_t units[2];
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8_char.data(),
                                      static_cast<int>(utf8_char.size()), units, 2);
  return n > 0 ? std::wstring(units, static_cast<std::size_t>(n)) : std::wstring();
}

/// One character (its UTF-16 units) in the code page; "" when the page cannot hold it.
std::string ansi_of_char(UINT cp, const std::wstring& units) {
  char bytes[8];
  BOOL used_default = FALSE;
  const int n = ::WideCharToMultiByte(cp, WC_NO_BEST_FIT_CHARS, units.data(), static_cast<int>(units.size()), bytes,
                                      sizeof bytes, nullptr, &used_default);
  if (n <= 0 || used_default) return {};
  return std::string(bytes, static_cast<std::size_t>(n));
}

}  // namespace

std::string ansi_codepage() {
  if (const char* forced = std::getenv("PIVZONA12_CODEPAGE"); forced && *forced) return forced;
  const UINT cp = ::GetACP();
  return cp == CP_UTF8 ? "UTF-8" : "CP" + std::to_string(cp);
}

std::string to_ansi(std::string_view utf8) {
  const UINT cp = active_code_page();
  if (cp == CP_UTF8) return utf8::replace_stray_bytes(utf8);
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const std::size_t n = utf8::sequence_length(utf8);
    const auto lead = static_cast<unsigned char>(utf8[0]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);  // every ANSI code page holds ASCII as it is
    } else {
      const std::wstring units = n > 1 ? utf16_of_char(utf8.substr(0, n)) : std::wstring();
      const std::string bytes = units.empty() ? std::string() : ansi_of_char(cp, units);
      out += bytes.empty() ? std::string("?") : bytes;
    }
    utf8.remove_prefix(n);
  }
  return out;
}

std::string from_ansi(std::string_view ansi) {
  const UINT cp = active_code_page();
  if (cp == CP_UTF8) return utf8::replace_stray_bytes(ansi);
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 2);
  std::size_t i = 0;
  while (i < ansi.size()) {
    const auto byte = static_cast<unsigned char>(ansi[i]);
    if (byte < 0x80) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    const std::size_t n = ::IsDBCSLeadByteEx(cp, byte) && i + 1 < ansi.size() ? 2 : 1;
    wchar_t unit[2];
    const int units = ::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, ansi.data() + i, static_cast<int>(n), unit, 2);
    if (units <= 0 || (units == 1 && unit[0] >= 0x80 && unit[0] <= 0x9F && !c1_is_defined(cp))) {
      out += '?';
    } else {
      const int size = ::WideCharToMultiByte(CP_UTF8, 0, unit, units, nullptr, 0, nullptr, nullptr);
      std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
      if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, unit, units, utf8.data(), size, nullptr, nullptr);
      out += utf8;
    }
    i += n;
  }
  return out;
}

}  // namespace platform

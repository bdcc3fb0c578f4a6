#pragma once
// UTF-8 and the UTF-16 texts of the Windows API, for the stand-ins' Windows files.
#include <windows.h>

#include <string>
#include <string_view>

namespace praxilo_server {

/// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD.
inline std::wstring wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

/// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
inline std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace praxilo_server

#pragma once
// UTF-8 <-> UTF-16 for the Win32 calls of the platform layer's Windows files. Private to
// src/platform.
#include <windows.h>

#include <string>
#include <string_view>

namespace platform::win {

/// UTF-8 text as UTF-16; an ill-formed sequence becomes U+FFFD.
inline std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

/// UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
inline std::string narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace platform::win

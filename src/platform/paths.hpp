#pragma once
// The platform's path separator, written wherever a Windows path has a backslash, and the
// one way from the core's UTF-8 path texts to file-system paths and back.
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {
#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

/// The file-system path named by a UTF-8 text. Every file the core opens by name goes
/// through it: a path built from a narrow std::string would be read in the ANSI code page
/// on Windows and garble letters outside it.
inline std::filesystem::path path_from_utf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

/// The UTF-8 text of a file-system path (the inverse of path_from_utf8).
inline std::string path_to_utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace platform

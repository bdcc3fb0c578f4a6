#pragma once
// What the server needs from the operating system beyond the standard library: its
// process id and files created only when new. One implementation file per platform.
#include <cstdio>
#include <filesystem>
#include <string>

namespace praxilo_server {

/// This process's id.
long process_id();

/// Opens path for writing in binary mode only when no file of that name exists yet.
/// Returns nullptr when it cannot be created; exists tells whether the name was taken.
std::FILE* create_new_file(const std::filesystem::path& path, bool& exists);

/// A path as UTF-8 text, whatever the platform's own encoding of names.
inline std::string path_text(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

/// A UTF-8 text as a path.
inline std::filesystem::path text_path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace praxilo_server

#include "extract/text_file.hpp"

#include <fstream>
#include <stdexcept>

#include "platform/codepage.hpp"
#include "platform/paths.hpp"

std::vector<std::string> ansi_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(platform::from_ansi(line));
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

std::string read_bytes(const std::string& path) {
  // The file is read whole with one buffer of its size.
  std::ifstream in(platform::path_from_utf8(path), std::ios::binary | std::ios::ate);
  if (!in) throw std::runtime_error("Impossibile aprire il file '" + path + "'");
  const std::streamoff size = in.tellg();
  std::string bytes;
  if (size > 0) {
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(bytes.data(), size);
  }
  if (in.bad() || size < 0) throw std::runtime_error("Errore nella lettura del file '" + path + "'");
  bytes.resize(static_cast<std::size_t>(in.gcount() > 0 ? in.gcount() : 0));
  return bytes;
}

std::vector<std::string> read_ansi_lines(const std::string& path) { return ansi_lines(read_bytes(path)); }

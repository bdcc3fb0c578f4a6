#include "extract/text_file.hpp"

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "platform/codepage.hpp"

std::vector<std::string> ansi_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(platform::from_ansi(std::string(line)));
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return lines;
}

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("Impossibile aprire il file '" + path + "'");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("Errore nella lettura del file '" + path + "'");
  return bytes;
}

std::vector<std::string> read_ansi_lines(const std::string& path) { return ansi_lines(read_bytes(path)); }

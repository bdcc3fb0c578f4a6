#include "extract/text_file.hpp"

#include <fstream>
#include <stdexcept>

#include "platform/codepage.hpp"
#include "platform/paths.hpp"

std::vector<std::string> read_ansi_lines(const std::string& path) {
  std::ifstream in(platform::path_from_utf8(path), std::ios::binary);
  if (!in) throw std::runtime_error("Impossibile aprire il file '" + path + "'");
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(platform::from_ansi(line));
  }
  if (in.bad()) throw std::runtime_error("Errore nella lettura del file '" + path + "'");
  return lines;
}

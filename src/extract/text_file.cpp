#include "extract/text_file.hpp"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "platform/codepage.hpp"

std::vector<std::string> read_ansi_lines(const std::string& path) {
  // The file is read whole with one buffer, then cut into lines, each converted.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) throw std::runtime_error("Impossibile aprire il file '" + path + "'");
  std::string bytes;
  char buffer[16384];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, n);
  if (std::ferror(file.get())) throw std::runtime_error("Errore nella lettura del file '" + path + "'");
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::size_t stop = end;
    if (stop > start && bytes[stop - 1] == '\r') --stop;
    lines.push_back(platform::from_ansi(std::string_view(bytes).substr(start, stop - start)));
    start = end + 1;
  }
  return lines;
}

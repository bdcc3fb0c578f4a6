#include "extract/text_file.hpp"

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "platform/codepage.hpp"

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
  // Read unbuffered straight into the text: a dump is read for every query, and a stream's
  // own buffer and its seeks to learn the size cost more than the few bytes it holds.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) throw std::runtime_error("Impossibile aprire il file '" + path + "'");
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  std::string bytes;
  std::size_t have = 0;
  for (std::size_t room = 4096;; room *= 2) {
    bytes.resize(have + room);
    const std::size_t n = std::fread(bytes.data() + have, 1, room, file.get());
    have += n;
    if (n < room) break;
  }
  bytes.resize(have);
  if (std::ferror(file.get())) throw std::runtime_error("Errore nella lettura del file '" + path + "'");
  return bytes;
}

std::vector<std::string> read_ansi_lines(const std::string& path) { return ansi_lines(read_bytes(path)); }

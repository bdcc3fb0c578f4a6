#include "extract/text_file.hpp"

#include <fstream>
#include <stdexcept>

#include "platform/codepage.hpp"
#include "platform/paths.hpp"

std::vector<std::string> ansi_lines(std::string_view bytes) {
  // One conversion for the whole text, split afterwards: a conversion costs more to begin
  // than a line to convert, and LF and CR are the same single bytes, never part of another
  // character, in every ANSI code page and in UTF-8.
  const std::string text = platform::from_ansi(bytes);
  std::vector<std::string> lines;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return lines;
}

std::string read_bytes(const std::string& path) {
  // Read unbuffered straight into the text: a dump is read for every query, and a stream's
  // own buffer and its seeks to learn the size cost more than the few bytes it holds.
  std::ifstream in;
  in.rdbuf()->pubsetbuf(nullptr, 0);
  in.open(platform::path_from_utf8(path), std::ios::binary);
  if (!in) throw std::runtime_error("Impossibile aprire il file '" + path + "'");
  std::string bytes;
  std::size_t have = 0;
  for (std::size_t room = 4096;; room *= 2) {
    bytes.resize(have + room);
    in.read(bytes.data() + have, static_cast<std::streamsize>(room));
    const auto n = static_cast<std::size_t>(in.gcount());
    have += n;
    if (n < room) break;
  }
  bytes.resize(have);
  if (in.bad()) throw std::runtime_error("Errore nella lettura del file '" + path + "'");
  return bytes;
}

std::vector<std::string> read_ansi_lines(const std::string& path) { return ansi_lines(read_bytes(path)); }

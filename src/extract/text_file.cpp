#include "extract/text_file.hpp"

#include <algorithm>

#include "platform/codepage.hpp"

std::vector<std::string> ansi_lines(std::string_view bytes) {
  // One conversion for the whole text, split afterwards: a conversion costs more to begin
  // than a line to convert, and LF and CR are the same single bytes, never part of another
  // character, in every ANSI code page and in UTF-8.
  const std::string text = platform::from_ansi(bytes);
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
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

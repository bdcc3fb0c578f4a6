#include "extract/text_file.hpp"

#include "platform/codepage.hpp"

// The text is converted a run of whole lines at a time, from the start of a line to the
// end of the last LF of a piece: a conversion costs more to begin than a line to convert,
// and LF and CR are the same single bytes, never the first byte of another character, in
// every ANSI code page and in UTF-8, so a run ending at an LF ends where a character
// ends and converts as it would within the whole text. The converted text is then split
// at its LFs, with what followed the last one kept for the next run: a line is cut where
// the whole converted text would cut it.

bool AnsiLines::add(std::string_view piece) {
  if (stopped_) return false;
  const std::size_t last_end = piece.rfind('\n');
  if (last_end == std::string_view::npos) {
    bytes_.append(piece);
    return true;
  }
  if (bytes_.empty()) {
    convert(piece.substr(0, last_end + 1));
  } else {
    bytes_.append(piece.substr(0, last_end + 1));
    convert(bytes_);
  }
  bytes_.assign(piece.substr(last_end + 1));
  return !stopped_;
}

bool AnsiLines::finish() {
  if (stopped_) return false;
  text_ += platform::from_ansi(bytes_);
  bytes_.clear();
  // A last line without its LF is a line; nothing after the last LF is none.
  if (!text_.empty()) {
    std::string_view line = text_;
    if (line.back() == '\r') line.remove_suffix(1);
    stopped_ = !on_line_(line);
  }
  text_.clear();
  return !stopped_;
}

void AnsiLines::convert(std::string_view ended) {
  const std::string converted = platform::from_ansi(ended);
  std::string_view rest = converted;
  for (std::size_t end; !stopped_ && (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
    std::string_view line = rest.substr(0, end);
    if (!text_.empty()) {  // the start of this line came with an earlier run
      text_.append(line);
      line = text_;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    stopped_ = !on_line_(line);
    text_.clear();
  }
  if (!stopped_) text_.append(rest);
}

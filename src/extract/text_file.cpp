#include "extract/text_file.hpp"

#include <string>

#include "platform/codepage.hpp"
#include "platform/failure.hpp"

// The text is converted a run of whole lines at a time, from the start of a line to the
// end of the last LF of a piece: a conversion costs more to begin than a line to convert,
// and LF and CR are the same single bytes, never the first byte of another character, in
// every ANSI code page and in UTF-8, so a run ending at an LF ends where a character
// ends and converts as it would within the whole text. The converted text is then split
// at its LFs, with what followed the last one kept for the next run: a line is cut where
// the whole converted text would cut it.

void AnsiLines::check_line_lengths(std::string_view piece) const {
  // Only a piece that, with what is held, passes the limit can hold a line that does.
  if (bytes_.size() + piece.size() <= max_line_) return;
  std::size_t held = bytes_.size();
  for (std::size_t from = 0;;) {
    const std::size_t end = piece.find('\n', from);
    std::size_t length = held + (end == std::string_view::npos ? piece.size() : end) - from;
    // The CR of a CR LF line end is no part of the line (nor a last CR, whose LF may be
    // in the next piece).
    const std::size_t stop = end == std::string_view::npos ? piece.size() : end;
    if (length > 0 && (stop > from ? piece[stop - 1] : bytes_.back()) == '\r') --length;
    if (length > max_line_) {
      const bool mebibytes = max_line_ % (std::size_t{1} << 20) == 0;
      throw platform::Failure("il file dei risultati di Praxilo ha una riga più lunga di " +
                              std::to_string(mebibytes ? max_line_ >> 20 : max_line_) +
                              (mebibytes ? " MiB." : " byte."));
    }
    if (end == std::string_view::npos) return;
    held = 0;
    from = end + 1;
  }
}

bool AnsiLines::add(std::string_view piece) {
  if (stopped_) return false;
  check_line_lengths(piece);
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

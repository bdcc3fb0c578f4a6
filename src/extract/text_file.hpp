#pragma once
// Reading the 8-bit text files that the records product dumps and the builders copy.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

/// The lines of 8-bit text in the ANSI code page that comes in pieces, converted to UTF-8,
/// each without its line end (LF or CR LF): each line goes to on_line as soon as its end
/// has come, so that only the line not yet ended is held. The lines are the same however
/// the text is cut into pieces: a CR that ends a piece and the LF that begins the next
/// end one line, and a last line without a line end is a line (a CR at its end dropped).
/// A line longer than max_line bytes (its line end not counted) is refused: what is held
/// stays bounded whatever the file holds.
class AnsiLines {
 public:
  /// The longest line taken, in bytes: far beyond any row of the records product.
  static constexpr std::size_t max_dump_line = std::size_t{1} << 20;

  /// Receives each line; answers false to stop the reading (no further line is given).
  using LineSink = std::function<bool(std::string_view line)>;
  explicit AnsiLines(LineSink on_line, std::size_t max_line = max_dump_line)
      : on_line_(std::move(on_line)), max_line_(max_line) {}

  /// The next piece of the text. False once on_line has stopped the reading. Throws
  /// platform::Failure, saying so, when a line grows longer than max_line.
  bool add(std::string_view piece);
  /// The end of the text: hands on the last line when it has no line end. False when
  /// on_line has stopped the reading.
  bool finish();

 private:
  /// Converts the bytes up to and including a line end and hands on the lines ended.
  void convert(std::string_view ended);

  /// Throws when a line of piece, the bytes held before it being the start of its first
  /// line, is longer than max_line_.
  void check_line_lengths(std::string_view piece) const;

  LineSink on_line_;
  std::size_t max_line_;
  std::string bytes_;  ///< the bytes after the last LF, not yet converted
  std::string text_;   ///< converted text of a line not yet ended
  bool stopped_ = false;
};

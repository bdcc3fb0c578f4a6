// The lines of the 8-bit texts the records product dumps: line ends, the last line, the
// code page, and the same lines however the text is cut into the pieces it is read in.
#include "extract/text_file.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/failure.hpp"
#include "test_support.hpp"

namespace {

using Lines = std::vector<std::string>;

/// The lines of text handed to AnsiLines in pieces of piece_size bytes.
Lines lines_in_pieces(std::string_view text, std::size_t piece_size) {
  Lines lines;
  AnsiLines splitter([&lines](std::string_view line) {
    lines.emplace_back(line);
    return true;
  });
  for (std::size_t at = 0; at < text.size(); at += piece_size) EXPECT_TRUE(splitter.add(text.substr(at, piece_size)));
  EXPECT_TRUE(splitter.finish());
  return lines;
}

struct LinesCase {
  const char* name;
  std::string text;
  Lines lines;
  const char* codepage = "";  ///< PIVZONA12_CODEPAGE ("" the system's)
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class AnsiLinesCases : public ::testing::TestWithParam<LinesCase> {};

TEST_P(AnsiLinesCases, SameLinesInPiecesOfAnySize) {
  const LinesCase& c = GetParam();
  test_support::ScopedEnv codepage("PIVZONA12_CODEPAGE", c.codepage);
  // Every cut of a short text, down to one byte at a time, and the whole text at once.
  for (std::size_t piece_size = 1; piece_size <= std::max<std::size_t>(c.text.size(), 1); ++piece_size) {
    SCOPED_TRACE(piece_size);
    EXPECT_EQ(lines_in_pieces(c.text, piece_size), c.lines);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnsiLinesCases,
    ::testing::Values(
        LinesCase{"Empty", "", {}}, LinesCase{"OnlyALineEnd", "\n", {""}},
        LinesCase{"CrLf", "a\r\nbb\r\n", {"a", "bb"}}, LinesCase{"LastLineWithoutEnd", "a\nbb", {"a", "bb"}},
        LinesCase{"EmptyLinesKept", "a\n\n\r\nb\n", {"a", "", "", "b"}},
        LinesCase{"LoneCrInsideALine", "a\rb\r\n", {"a\rb"}},
        LinesCase{"OnlyTheLastCrBeforeLfGoes", "a\r\r\n", {"a\r"}},
        LinesCase{"CrEndingTheLastLineGoes", "a\nb\r", {"a", "b"}},
        LinesCase{"LoneCrAtTheEndIsAnEmptyLine", "a\n\r", {"a", ""}},
        LinesCase{"BlanksKept", " \t \r\n\t", {" \t ", "\t"}},
        LinesCase{"Utf8CharacterCutByAPiece", "D'Al\xC3\xB2\r\nNicol\xC3\xB2", {"D'Alò", "Nicolò"}, "UTF-8"},
        LinesCase{"MalformedUtf8BeforeALineEnd", "a\xE2\x82\nb\xE2\x82\n", {"a??", "b??"}, "UTF-8"},
        LinesCase{"AnsiCodePage", "D'Al\xF2\r\n\"Nicol\xF2\"\t\xE0", {"D'Alò", "\"Nicolò\"\tà"}, "CP1252"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnsiLines, ALongLineAcrossManyPiecesIsOneLine) {
  const std::string longest(200'000, 'x');
  const std::string text = "a\r\n" + longest + "\r\nb\r\n";
  for (const std::size_t piece_size : {std::size_t{7}, std::size_t{1} << 16}) {
    SCOPED_TRACE(piece_size);
    EXPECT_EQ(lines_in_pieces(text, piece_size), (Lines{"a", longest, "b"}));
  }
}

// A line longer than the bound is refused, however the text is cut: a file without line
// ends would otherwise be held whole. Line ends do not count; a line of the bound is kept.
struct BoundCase {
  const char* name;
  std::string text;
  bool refused;
};

void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.name; }

class AnsiLinesBound : public ::testing::TestWithParam<BoundCase> {};

TEST_P(AnsiLinesBound, ALineLongerThanTheBoundIsRefused) {
  const BoundCase& c = GetParam();
  constexpr std::size_t bound = 8;
  for (std::size_t piece_size = 1; piece_size <= c.text.size(); ++piece_size) {
    SCOPED_TRACE(piece_size);
    Lines lines;
    AnsiLines splitter(
        [&lines](std::string_view line) {
          lines.emplace_back(line);
          return true;
        },
        bound);
    try {
      for (std::size_t at = 0; at < c.text.size(); at += piece_size)
        splitter.add(std::string_view(c.text).substr(at, piece_size));
      splitter.finish();
      EXPECT_FALSE(c.refused) << "taken whole";
    } catch (const platform::Failure& failure) {
      EXPECT_TRUE(c.refused) << failure.what();
      EXPECT_EQ(std::string(failure.what()), "il file dei risultati di Praxilo ha una riga più lunga di 8 byte.");
    }
    for (const std::string& line : lines) EXPECT_LE(line.size(), bound) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AnsiLinesBound,
                         ::testing::Values(BoundCase{"LinesOfTheBound", "12345678\n12345678\r\nabc\n12345678", false},
                                           BoundCase{"LineOfTheBoundWithCrLfAtTheEnd", "12345678\r\n", false},
                                           BoundCase{"LineOneOver", "a\n123456789\nb\n", true},
                                           BoundCase{"LastLineOneOverWithoutLineEnd", "a\n123456789", true},
                                           BoundCase{"NoLineEndAtAll", std::string(40, 'x'), true},
                                           BoundCase{"CrInsideCounts", "1234\r5678\n", true},
                                           BoundCase{"OverAfterShortLines", "a\nb\nc\n1234567890123\r\n", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AnsiLines, TheDumpsBoundIsOneMebibyte) {
  // A whole mebibyte of a line is taken, one byte more is not, and the message says so.
  Lines lines;
  AnsiLines splitter([&lines](std::string_view line) {
    lines.emplace_back(line.size(), '-');
    return true;
  });
  const std::string mebibyte(AnsiLines::max_dump_line, 'x');
  EXPECT_TRUE(splitter.add(mebibyte + "\r\n"));
  EXPECT_EQ(lines, Lines{std::string(AnsiLines::max_dump_line, '-')});
  try {
    splitter.add(mebibyte);
    splitter.add("x");
    ADD_FAILURE() << "a line of 1 MiB and a byte was taken";
  } catch (const platform::Failure& failure) {
    EXPECT_EQ(std::string(failure.what()), "il file dei risultati di Praxilo ha una riga più lunga di 1 MiB.");
  }
}

TEST(AnsiLines, AnAnswerOfFalseStopsTheLines) {
  Lines lines;
  AnsiLines splitter([&lines](std::string_view line) {
    lines.emplace_back(line);
    return lines.size() < 2;
  });
  EXPECT_FALSE(splitter.add("uno\ndue\ntre\nqua"));
  EXPECT_FALSE(splitter.add("ttro\ncinque\n"));
  EXPECT_FALSE(splitter.finish());
  EXPECT_EQ(lines, (Lines{"uno", "due"}));
}

}  // namespace

#include "platform/utf8.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace {

using platform::utf8::replacement_character;

struct DecodeCase {
  const char* name;
  std::string text;
  char32_t code_point;  ///< of the first character
  std::size_t length;
  bool well_formed;
};

class Utf8Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8Decode, FirstCharacter) {
  const DecodeCase& c = GetParam();
  const platform::utf8::Decoded d = platform::utf8::decode(c.text);
  EXPECT_EQ(d.length, c.length);
  EXPECT_EQ(d.well_formed, c.well_formed);
  EXPECT_EQ(static_cast<std::uint32_t>(d.code_point), static_cast<std::uint32_t>(c.code_point));
  EXPECT_EQ(platform::utf8::sequence_length(c.text), c.length);
}

constexpr char32_t stray = replacement_character;

INSTANTIATE_TEST_SUITE_P(Cases, Utf8Decode,
                         testing::Values(
                             // The first and last character of each length, and those on either side of the
                             // surrogates.
                             DecodeCase{"Nul", std::string(1, '\0'), 0, 1, true},
                             DecodeCase{"LastOfOneByte", "\x7F", 0x7F, 1, true},
                             DecodeCase{"FirstOfTwoBytes", "\xC2\x80", 0x80, 2, true},
                             DecodeCase{"LastOfTwoBytes", "\xDF\xBF", 0x7FF, 2, true},
                             DecodeCase{"FirstOfThreeBytes", "\xE0\xA0\x80", 0x800, 3, true},
                             DecodeCase{"BeforeSurrogates", "\xED\x9F\xBF", 0xD7FF, 3, true},
                             DecodeCase{"AfterSurrogates", "\xEE\x80\x80", 0xE000, 3, true},
                             DecodeCase{"LastOfThreeBytes", "\xEF\xBF\xBF", 0xFFFF, 3, true},
                             DecodeCase{"FirstOfFourBytes", "\xF0\x90\x80\x80", 0x10000, 4, true},
                             DecodeCase{"LastCharacter", "\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
                             DecodeCase{"OnlyTheFirstCharacter", "\xC3\xA8x", 0xE8, 2, true},
                             // Overlong forms of each length: the lead byte alone is a stray byte.
                             DecodeCase{"OverlongTwoBytesC0", "\xC0\xAF", stray, 1, false},
                             DecodeCase{"OverlongTwoBytesC1", "\xC1\xBF", stray, 1, false},
                             DecodeCase{"OverlongThreeBytes", "\xE0\x9F\xBF", stray, 1, false},
                             DecodeCase{"OverlongThreeBytesOfNul", "\xE0\x80\x80", stray, 1, false},
                             DecodeCase{"OverlongFourBytes", "\xF0\x8F\xBF\xBF", stray, 1, false},
                             // Surrogates, lone or paired, have no UTF-8 form.
                             DecodeCase{"FirstSurrogate", "\xED\xA0\x80", stray, 1, false},
                             DecodeCase{"LastSurrogate", "\xED\xBF\xBF", stray, 1, false},
                             DecodeCase{"SurrogatePair", "\xED\xA0\xBD\xED\xB8\x80", stray, 1, false},
                             // Above U+10FFFF, and the leads of the old five- and six-byte forms.
                             DecodeCase{"AboveLastCharacter", "\xF4\x90\x80\x80", stray, 1, false},
                             DecodeCase{"LeadF5", "\xF5\x80\x80\x80", stray, 1, false},
                             DecodeCase{"LeadF7", "\xF7\xBF\xBF\xBF", stray, 1, false},
                             DecodeCase{"FiveByteLead", "\xF8\x88\x80\x80\x80", stray, 1, false},
                             DecodeCase{"SixByteLead", "\xFC\x84\x80\x80\x80\x80", stray, 1, false},
                             DecodeCase{"ByteFF", "\xFF", stray, 1, false},
                             // Continuation bytes without a lead, and sequences cut short.
                             DecodeCase{"LoneContinuation", "\x80", stray, 1, false},
                             DecodeCase{"LastContinuation", "\xBF", stray, 1, false},
                             DecodeCase{"TwoBytesCutAtEnd", "\xC3", stray, 1, false},
                             DecodeCase{"ThreeBytesCutAtEnd", "\xE2\x82", stray, 1, false},
                             DecodeCase{"FourBytesCutAtEnd", "\xF0\x9F\x98", stray, 1, false},
                             DecodeCase{"TwoBytesCutByAscii", "\xC3(", stray, 1, false},
                             DecodeCase{"ThreeBytesCutByAscii", "\xE2\x82x", stray, 1, false},
                             DecodeCase{"FourBytesCutByNewLead", "\xF0\x9F\x98\xC3\xA8", stray, 1, false},
                             DecodeCase{"Empty", "", 0, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

/// A text cut into characters as sequence_length cuts it.
std::vector<std::string> pieces(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const std::size_t n = platform::utf8::sequence_length(text);
    out.emplace_back(text.substr(0, n));
    text.remove_prefix(n);
  }
  return out;
}

TEST(Utf8, MalformedByteLeavesWhatFollowsWhole) {
  // Each byte of a refused form stands alone; the character after it is read whole.
  EXPECT_EQ(pieces("a\xE0\x80\xAF\xC3\xA8"), (std::vector<std::string>{"a", "\xE0", "\x80", "\xAF", "\xC3\xA8"}));
  EXPECT_EQ(pieces("\xED\xA0\x80\xE2\x82\xAC"), (std::vector<std::string>{"\xED", "\xA0", "\x80", "\xE2\x82\xAC"}));
  EXPECT_EQ(pieces("\xF0\x9F\x98\xF0\x9F\x98\x80"),
            (std::vector<std::string>{"\xF0", "\x9F", "\x98", "\xF0\x9F\x98\x80"}));
}

TEST(Utf8, WellFormedText) {
  struct Case {
    std::string text;
    bool well_formed;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"Nicol\xC3\xB2 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {std::string("a\0b", 3), true},
      {"Nicol\xC3\xB2\xC0\xAF", false},  // malformed at the end
      {"\xED\xA0\x80 plain", false},     // malformed at the start
      {"abc\xC3", false},                // cut at the end
      {"abc\x80", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(platform::utf8::well_formed(c.text), c.well_formed);
  }
}

TEST(Utf8, EncodesEachLengthAndReplacesWhatHasNoForm) {
  struct Case {
    char32_t code_point;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {0x0, std::string(1, '\0')},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xD7FF, "\xED\x9F\xBF"},
      {0xE000, "\xEE\x80\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0x110000, "\xEF\xBF\xBD"},
      {0xFFFFFFFF, "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<std::uint32_t>(c.code_point));
    std::string out = "x";
    platform::utf8::append(out, c.code_point);
    EXPECT_EQ(out, "x" + c.bytes);
  }
}

TEST(Utf8, EveryCharacterDecodesBackFromItsEncoding) {
  std::size_t wrong = 0;
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string bytes;
    platform::utf8::append(bytes, c);
    const platform::utf8::Decoded d = platform::utf8::decode(bytes);
    if (!d.well_formed || d.code_point != c || d.length != bytes.size()) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
}

}  // namespace

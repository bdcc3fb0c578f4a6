#include "platform/codepage.hpp"

#include <clocale>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using test_support::ScopedEnv;

TEST(Codepage, OverrideNamesTheCodePage) {
  for (const char* name : {"CP1252", "ISO-8859-1", "UTF-8"}) {
    ScopedEnv cp("PIVZONA12_CODEPAGE", name);
    EXPECT_EQ(platform::ansi_codepage(), name);
  }
}

TEST(Codepage, NameFromOverrideOrLocale) {
  if (test_support::windows) GTEST_SKIP() << "on Windows the ANSI code page is the system's (GetACP), not the locale's";
  struct Case {
    const char* name;
    std::optional<std::string> codepage;
    std::string locale;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"override wins", "CP1252", "C.UTF-8", "CP1252"},
      {"empty override ignored", "", "C.UTF-8", "UTF-8"},
      {"C locale means UTF-8", std::nullopt, "C", "UTF-8"},
      {"POSIX locale means UTF-8", std::nullopt, "POSIX", "UTF-8"},
      {"UTF-8 locale", std::nullopt, "C.UTF-8", "UTF-8"},
      {"unknown locale means UTF-8", std::nullopt, "xx_YY.nothing", "UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv cp("PIVZONA12_CODEPAGE", c.codepage);
    ScopedEnv all("LC_ALL", c.locale);
    EXPECT_EQ(platform::ansi_codepage(), c.expected);
  }
}

TEST(Codepage, ReadingTheLocaleLeavesTheProcessLocaleAlone) {
  ScopedEnv all("LC_ALL", "C.UTF-8");
  const std::string before = std::setlocale(LC_CTYPE, nullptr);
  platform::ansi_codepage();
  EXPECT_EQ(std::setlocale(LC_CTYPE, nullptr), before);
}

// The first and last characters of each UTF-8 length, and those around the surrogates.
const std::string utf8_edges =
    "\x7F|\xC2\x80|\xDF\xBF|\xE0\xA0\x80|\xED\x9F\xBF|\xEE\x80\x80|\xEF\xBF\xBF|\xF0\x90\x80\x80|\xF4\x8F\xBF\xBF";

struct ConversionCase {
  const char* name;
  std::string codepage;
  std::string utf8;
  std::string ansi;
};

class ToAnsi : public testing::TestWithParam<ConversionCase> {};

TEST_P(ToAnsi, Converts) {
  ScopedEnv cp("PIVZONA12_CODEPAGE", GetParam().codepage);
  EXPECT_EQ(platform::to_ansi(GetParam().utf8), GetParam().ansi);
}

INSTANTIATE_TEST_SUITE_P(
    Codepage, ToAnsi,
    testing::Values(ConversionCase{"Ascii", "CP1252", "Rossi Mario", "Rossi Mario"},
                    ConversionCase{"Accents", "CP1252", "Nicol\xC3\xB2 Ges\xC3\xB9", "Nicol\xF2 Ges\xF9"},
                    ConversionCase{"Euro", "CP1252", "\xE2\x82\xAC", "\x80"},
                    ConversionCase{"NotInCodePage", "CP1252",
                                   "a\xE6\x97\xA5"
                                   "b",
                                   "a?b"},
                    ConversionCase{"FourByteCharacter", "CP1252",
                                   "a\xF0\x9F\x98\x80"
                                   "b",
                                   "a?b"},
                    ConversionCase{"BrokenUtf8KeepsWhatFollows", "CP1252", "a\xC3(b", "a?(b"},
                    ConversionCase{"TruncatedAtEnd", "CP1252", "a\xC3", "a?"},
                    ConversionCase{"Utf8Unchanged", "UTF-8", "Nicol\xC3\xB2", "Nicol\xC3\xB2"},
                    ConversionCase{"Utf8EdgesOfEachLength", "UTF-8", utf8_edges, utf8_edges},
                    ConversionCase{"Utf8OverlongSlash", "UTF-8",
                                   "a\xC0\xAF"
                                   "b",
                                   "a??b"},
                    ConversionCase{"Utf8StrayByte", "UTF-8",
                                   "a\xFF"
                                   "b",
                                   "a?b"},
                    ConversionCase{"Empty", "CP1252", "", ""},
                    ConversionCase{"UnknownCodePageActsAsUtf8", "NO-SUCH-CODEPAGE", "Nicol\xC3\xB2", "Nicol\xC3\xB2"}),
    [](const auto& info) { return std::string(info.param.name); });

class FromAnsi : public testing::TestWithParam<ConversionCase> {};

TEST_P(FromAnsi, Converts) {
  ScopedEnv cp("PIVZONA12_CODEPAGE", GetParam().codepage);
  EXPECT_EQ(platform::from_ansi(GetParam().ansi), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Codepage, FromAnsi,
                         testing::Values(ConversionCase{"Accents", "CP1252", "Nicol\xC3\xB2 Ges\xC3\xB9",
                                                        "Nicol\xF2 Ges\xF9"},
                                         ConversionCase{"Euro", "CP1252", "\xE2\x82\xAC", "\x80"},
                                         ConversionCase{"UndefinedByte", "CP1252", "a?b",
                                                        "a\x81"
                                                        "b"},
                                         ConversionCase{"Utf8Unchanged", "UTF-8", "Nicol\xC3\xB2", "Nicol\xC3\xB2"},
                                         ConversionCase{"Utf8EdgesOfEachLength", "UTF-8", utf8_edges, utf8_edges},
                                         ConversionCase{"Utf8Invalid", "UTF-8", "a?b",
                                                        "a\xFF"
                                                        "b"},
                                         ConversionCase{"Latin1", "ISO-8859-1", "\xC3\xA8", "\xE8"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Codepage, LongTextConvertsWhole) {
  ScopedEnv cp("PIVZONA12_CODEPAGE", "CP1252");
  std::string utf8, ansi;
  for (int i = 0; i < 5000; ++i) {
    utf8 += "\xC3\xA8x";
    ansi += "\xE8x";
  }
  EXPECT_EQ(platform::to_ansi(utf8), ansi);
  EXPECT_EQ(platform::from_ansi(ansi), utf8);
}

TEST(Codepage, MalformedUtf8IsNeverTakenAsItIs) {
  // Each is one byte away from a well-formed character, and the conversion refuses it.
  ScopedEnv cp("PIVZONA12_CODEPAGE", "UTF-8");
  for (const std::string bad : {"\xED\xA0\x80", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xC1\xBF", "\xDF", "\xE0\xA0"}) {
    SCOPED_TRACE(testing::PrintToString(bad));
    EXPECT_EQ(platform::to_ansi("a" + bad + "b").find(bad), std::string::npos);
    EXPECT_EQ(platform::from_ansi("a" + bad + "b").find(bad), std::string::npos);
  }
}

// Text taken for UTF-8 (a UTF-8 code page, or UTF-8 standing in for an unknown one) comes
// out well formed both ways: each byte that starts no well-formed character becomes one
// "?", and what follows it is read afresh.
struct MalformedCase {
  const char* name;
  std::string bytes;
  std::string cleaned;
};

class MalformedUtf8 : public testing::TestWithParam<std::tuple<const char*, MalformedCase>> {};

TEST_P(MalformedUtf8, EachStrayByteBecomesOneQuestionMark) {
  const auto& [codepage, c] = GetParam();
  ScopedEnv cp("PIVZONA12_CODEPAGE", codepage);
  EXPECT_EQ(platform::from_ansi("a" + c.bytes + "b"), "a" + c.cleaned + "b");
  EXPECT_EQ(platform::to_ansi("a" + c.bytes + "b"), "a" + c.cleaned + "b");
}

INSTANTIATE_TEST_SUITE_P(
    Codepage, MalformedUtf8,
    testing::Combine(testing::Values("UTF-8", "NO-SUCH-CODEPAGE"),
                     testing::Values(MalformedCase{"AboveU10FFFF", "\xF4\x90\x80\x80", "????"},
                                     MalformedCase{"FourByteLeadAboveF4", "\xF5\x80\x80\x80", "????"},
                                     MalformedCase{"FiveByteForm", "\xF8\x88\x80\x80\x80", "?????"},
                                     MalformedCase{"SixByteForm", "\xFC\x84\x80\x80\x80\x80", "??????"},
                                     MalformedCase{"OverlongTwoBytes", "\xC0\xAF", "??"},
                                     MalformedCase{"OverlongThreeBytes", "\xE0\x80\xAF", "???"},
                                     MalformedCase{"OverlongFourBytes", "\xF0\x8F\xBF\xBF", "????"},
                                     MalformedCase{"HighSurrogate", "\xED\xA0\x80", "???"},
                                     MalformedCase{"LowSurrogate", "\xED\xBF\xBF", "???"},
                                     MalformedCase{"LoneContinuation", "\x80", "?"},
                                     MalformedCase{"FourBytesCutShort", "\xF0\x9F\x98", "???"},
                                     MalformedCase{"CutShortBeforeAscii", "\xE2\x82(", "?\?("},
                                     MalformedCase{"CutShortBeforeACharacter", "\xE2\xC3\xA8", "?\xC3\xA8"},
                                     MalformedCase{"ByteFF", "\xFF", "?"})),
    [](const auto& info) {
      const std::string codepage = std::get<0>(info.param);
      return std::string(codepage == "UTF-8" ? "Utf8_" : "Unknown_") + std::get<1>(info.param).name;
    });

TEST(Codepage, StatefulCodePageStartsEachTextAfresh) {
  if (test_support::windows)
    GTEST_SKIP() << "a shift-state code page is an iconv one; Windows' ANSI code pages keep no state";
  // A kept conversion handle must not carry a shift state from one text into the next.
  ScopedEnv cp("PIVZONA12_CODEPAGE", "ISO-2022-JP");
  EXPECT_EQ(platform::to_ansi("\xE6\x97\xA5"), "\x1B$BF|\x1B(B");
  EXPECT_EQ(platform::to_ansi("a"), "a");
  EXPECT_EQ(platform::from_ansi("\x1B$BF|"), "\xE6\x97\xA5");
  EXPECT_EQ(platform::from_ansi("F|"), "F|");
}

TEST(Codepage, ConversionsOnSeveralThreadsAtOnce) {
  ScopedEnv cp("PIVZONA12_CODEPAGE", "CP1252");
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < wrong.size(); ++t) {
    threads.emplace_back([&wrong, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string text = "Nicol\xC3\xB2 " + std::to_string(i);
        if (platform::from_ansi(platform::to_ansi(text)) != text) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace

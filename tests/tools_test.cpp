#include "tools/tools.hpp"

#include <filesystem>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "px_fixture.hpp"
#include "test_support.hpp"

namespace {

using test_support::ScopedEnv;
using test_support::TempDir;

// ---- string2array ---------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::string text;
  std::string separator;
  std::vector<std::string> expected;
};

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, GivesTheFields) {
  EXPECT_EQ(tools::string2array(GetParam().text, GetParam().separator), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Tools, Split,
                         testing::Values(SplitCase{"EmptyFieldInTheMiddle", "a;b;;c", ";", {"a", "b", "", "c"}},
                                         SplitCase{"TrailingSeparator", "a;", ";", {"a", ""}},
                                         SplitCase{"LeadingSeparator", ";a", ";", {"", "a"}},
                                         SplitCase{"OnlyBlanks", "   ", ";", {}}, SplitCase{"EmptyText", "", ";", {}},
                                         SplitCase{"BlankFieldsKept", " ;\t", ";", {" ", "\t"}},
                                         SplitCase{"NoSeparator", "abc", ";", {"abc"}},
                                         SplitCase{"EmptySeparatorNeverFound", "a;b", "", {"a;b"}},
                                         SplitCase{"LongSeparator", "a<>b<><>c", "<>", {"a", "b", "", "c"}},
                                         SplitCase{"SeparatorsDoNotOverlap", "a;;;b", ";;", {"a", ";b"}},
                                         SplitCase{"TabSeparatedRow", "1\t\"Rossi\"\t", "\t", {"1", "\"Rossi\"", ""}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- string2date ----------------------------------------------------------------------

struct ReadDateCase {
  const char* name;
  std::string text;
  std::string pattern;
  TDateTime expected;
};

class ReadDate : public testing::TestWithParam<ReadDateCase> {};

TEST_P(ReadDate, GivesTheDateOrZero) {
  EXPECT_EQ(tools::string2date(GetParam().text, GetParam().pattern), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ReadDate,
    testing::Values(ReadDateCase{"NotALeapYear", "2011-02-29", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"LeapDay", "2012-02-29", "yyyy-mm-dd", tools::encode_date(2012, 2, 29)},
                    ReadDateCase{"LengthsDiffer", "2012-2-29", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"UpperCasePattern", "20120229", "YYYYMMDD", tools::encode_date(2012, 2, 29)},
                    ReadDateCase{"NoDayMarker", "2012-02", "yyyy-mm", 0.0},
                    ReadDateCase{"DayFirst", "05/03/2012", "dd/mm/yyyy", tools::encode_date(2012, 3, 5)},
                    ReadDateCase{"SeparatorsNotCompared", "2012x03x05", "yyyy-mm-dd", tools::encode_date(2012, 3, 5)},
                    ReadDateCase{"NonDigit", "2012-0a-05", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"SignedNumber", "2012-+3-05", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"MonthZero", "2012-00-05", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"MonthThirteen", "2012-13-05", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"ThirtyFirstOfApril", "2012-04-31", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"CenturyNotLeap", "1900-02-29", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"FourHundredLeap", "2000-02-29", "yyyy-mm-dd", tools::encode_date(2000, 2, 29)},
                    ReadDateCase{"YearZero", "0000-01-01", "yyyy-mm-dd", 0.0},
                    ReadDateCase{"BeforeDayZero", "1899-12-29", "yyyy-mm-dd", -1.0},
                    ReadDateCase{"Empty", "", "", 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tools, EncodeDateCountsFromTheThirtiethOfDecember1899) {
  EXPECT_EQ(tools::encode_date(1899, 12, 30), 0.0);
  EXPECT_EQ(tools::encode_date(1900, 1, 1), 2.0);
  EXPECT_EQ(tools::encode_date(2012, 3, 5), 40973.0);
  EXPECT_EQ(tools::encode_date(1899, 12, 29, 6), -1.25);
}

// ---- date2string ----------------------------------------------------------------------

struct FormatCase {
  const char* name;
  TDateTime date;
  std::string pattern;
  std::string expected;
};

class FormatDate : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatDate, Formats) { EXPECT_EQ(tools::date2string(GetParam().date, GetParam().pattern), GetParam().expected); }

const TDateTime march5 = tools::encode_date(2012, 3, 5, 14, 7, 9);

INSTANTIATE_TEST_SUITE_P(
    Tools, FormatDate,
    testing::Values(FormatCase{"Day", march5, "yyyymmdd", "20120305"},
                    FormatCase{"ProductionTime", march5, "yyyymmddhhMMss", "20120305140709"},
                    FormatCase{"MinutesAfterHourAcrossSeparator", march5, "hh:mm", "14:07"},
                    FormatCase{"MonthAfterDay", march5, "hh dd mm", "14 05 03"},
                    FormatCase{"MinutesWithN", march5, "yyyy-mm-dd hh:nn:ss", "2012-03-05 14:07:09"},
                    FormatCase{"SingleLetters", march5, "d/m/yy h", "5/3/12 14"},
                    FormatCase{"QuotedTextKept", march5, "'mm='mm", "mm=03"},
                    FormatCase{"Midnight", tools::encode_date(2012, 3, 5), "hhnnss", "000000"},
                    FormatCase{"AlmostMidnightRoundsToNextDay", tools::encode_date(2012, 3, 5) + 0.9999999999,
                               "yyyymmddhhnnss", "20120306000000"},
                    FormatCase{"BeforeDayZeroWithTime", -1.25, "yyyy-mm-dd hh:nn", "1899-12-29 06:00"},
                    FormatCase{"BeyondYear9999", 3000000.0, "yyyy", ""},
                    FormatCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), "yyyy", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- text tests -----------------------------------------------------------------------

TEST(Tools, TextTests) {
  struct Case {
    const char* name;
    bool got;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"empty prefix", tools::starts_with("abc", ""), false},
      {"prefix", tools::starts_with("abc", "ab"), true},
      {"prefix case", tools::starts_with("abc", "AB"), false},
      {"prefix found later only", tools::starts_with("xab", "ab"), false},
      {"prefix longer than text", tools::starts_with("a", "ab"), false},
      {"empty suffix", tools::ends_with("abc", ""), true},
      {"empty suffix of empty text", tools::ends_with("", ""), true},
      {"suffix", tools::ends_with("abc", "bc"), true},
      {"suffix case", tools::ends_with("abc", "BC"), false},
      {"suffix longer than text", tools::ends_with("bc", "abc"), false},
      {"empty text", tools::is_empty(""), true},
      {"blanks and controls", tools::is_empty(" \t\r\n\x01 "), true},
      {"one letter", tools::is_empty("  a "), false},
      {"accented letter", tools::is_empty(" \xC3\xA8 "), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.expected);
  }
  EXPECT_EQ(tools::trim(" \t a b \r\n"), "a b");
}

TEST(Tools, FirstCharNotIn) {
  struct Case {
    std::string text;
    std::string set;
    int start;
    int expected;
  };
  const std::vector<Case> cases = {{"2012", "0123456789", 1, 0},
                                   {"20a2", "0123456789", 1, 3},
                                   {"", "0123456789", 1, 0},
                                   {"x", "0123456789", 1, 1},
                                   {"01", "0123456789", 2, 1},
                                   {"\xC3\xA8"
                                    "1",
                                    "0123456789", 1, 1},
                                   {"1\xC3\xA8", "0123456789", 1, 2},
                                   {"\xC3\xA8", "a\xC3\xA8", 1, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " in " + c.set);
    EXPECT_EQ(tools::first_char_not_in(c.text, c.set, c.start), c.expected);
  }
}

TEST(Tools, FirstAndLastCharactersNeverCutASequence) {
  struct Case {
    std::string text;
    std::size_t count;
    std::string first, last;
  };
  const std::vector<Case> cases = {
      {"Perch\xC3\xA8 no", 6, "Perch\xC3\xA8", "ch\xC3\xA8 no"},
      {"no \xC3\xA8", 1, "n", "\xC3\xA8"},
      {"\xE2\x82\xAC\xE2\x82\xAC", 1, "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"abc", 5, "abc", "abc"},
      {"abc", 0, "", ""},
      {"", 3, "", ""},
      // A stray byte is a character of its own.
      {"a\xC3(b", 2, "a\xC3", "(b"},
      // So is each byte of a surrogate's or an overlong form's bytes.
      {"\xED\xA0\x80"
       "b",
       2, "\xED\xA0",
       "\x80"
       "b"},
      {"\xE0\x80\xAF"
       "b",
       1, "\xE0", "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text + " / " + std::to_string(c.count));
    EXPECT_EQ(tools::first_characters(c.text, c.count), c.first);
    EXPECT_EQ(tools::last_characters(c.text, c.count), c.last);
  }
}

// ---- create_dir -----------------------------------------------------------------------

TEST(Tools, CreateDirMakesEveryLevelAndEndsWithTheSeparator) {
  TempDir tmp;
  const std::string base = tmp.path().string();
  struct Case {
    const char* name;
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"forward slashes", base + "/Temp/x", base + "/Temp/x/"},
      {"backslashes become the separator", base + "\\a\\b\\c", base + "/a/b/c/"},
      {"final separator kept single", base + "/d/", base + "/d/"},
      {"existing directory", base, base + "/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tools::clear_last_error();
    EXPECT_EQ(tools::create_dir(c.path), test_support::native(c.expected));
    EXPECT_TRUE(std::filesystem::is_directory(c.expected));
    EXPECT_EQ(tools::last_error(), "");
  }
}

TEST(Tools, CreateDirRelativeToTheCurrentDirectory) {
  TempDir tmp;
  test_support::ScopedCwd cwd(tmp.path());
  EXPECT_EQ(tools::create_dir("rel\\sub"), test_support::native("rel/sub/"));
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() / "rel" / "sub"));
}

TEST(Tools, CreateDirReportsALevelThatCannotBeMade) {
  TempDir tmp;
  test_support::write_file(tmp.path() / "file", "x");
  const std::string path = tmp.path().string() + "\\file\\sub";
  tools::clear_last_error();
  EXPECT_EQ(tools::create_dir(path), "");
  EXPECT_EQ(tools::last_error(), "tools.create_dir(): errore nella creazione della directory: '" +
                                     test_support::native(tmp.path().string() + "/file/sub/") + "'");
}

// ---- memowrit -------------------------------------------------------------------------

TEST(Tools, MemowritCreatesTheDirectoryChainThenTheFile) {
  TempDir tmp;
  const auto file = tmp.path() / "a" / "b" / "out.txt";
  test_support::write_file(tmp.path() / "old.txt", "longer old content");
  EXPECT_TRUE(tools::memowrit(file.string(), "line 1\nline 2"));
  EXPECT_EQ(test_support::read_file(file), "line 1\nline 2");
  // An existing file is replaced, not appended to.
  EXPECT_TRUE(tools::memowrit((tmp.path() / "old.txt").string(), "new"));
  EXPECT_EQ(test_support::read_file(tmp.path() / "old.txt"), "new");
}

TEST(Tools, MemowritWritesTheAnsiCodePage) {
  TempDir tmp;
  const auto file = tmp.path() / "accents.txt";
  {
    ScopedEnv cp("PIVZONA12_CODEPAGE", "CP1252");
    EXPECT_TRUE(tools::memowrit(file.string(), "Perch\xC3\xA8 \xE2\x82\xAC"));  // "Perché €"-like text
    EXPECT_EQ(test_support::read_file(file), "Perch\xE8 \x80");
  }
  EXPECT_TRUE(tools::memowrit(file.string(), "Perch\xC3\xA8"));
  EXPECT_EQ(test_support::read_file(file), "Perch\xC3\xA8");
}

TEST(Tools, MemowritReportsAFileThatCannotBeCreated) {
  TempDir tmp;
  std::filesystem::create_directory(tmp.path() / "taken");
  const std::string name = (tmp.path() / "taken").string();
  tools::clear_last_error();
  EXPECT_FALSE(tools::memowrit(name, "x"));
  EXPECT_EQ(tools::last_error(), "tools.memowrit(): filename non corretto (" + name + ")");
}

// ---- read_registry_string -------------------------------------------------------------

TEST(Tools, ReadRegistryStringGivesOnlyStrings) {
  test_support::RegistryFile registry(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Maker]\r\n"
      "\"text\"=\"value\"\r\n"
      "\"number\"=dword:00000007\r\n");
  const auto root = tools::local_machine_root();
  EXPECT_EQ(tools::read_registry_string(root, "SOFTWARE\\Maker\\", "text"), "value");
  EXPECT_EQ(tools::read_registry_string(root, "\\SOFTWARE\\Maker", "text"), "value");
  EXPECT_EQ(tools::read_registry_string(root, "SOFTWARE\\Maker", "number"), "");
  EXPECT_EQ(tools::read_registry_string(root, "SOFTWARE\\Maker", "missing"), "");
  EXPECT_EQ(tools::read_registry_string(root, "SOFTWARE\\Other", "text"), "");
  EXPECT_EQ(tools::read_registry_string(platform::RegistryRoot::current_user, "SOFTWARE\\Maker", "text"), "");
}

}  // namespace

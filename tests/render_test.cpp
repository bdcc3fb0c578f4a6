// The page step: the file checks and their messages, the rewrite of the charset line,
// the page written in the ANSI code page in place of the earlier one, and the run's
// message box.
#include "render/render.hpp"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/host.hpp"
#include "page_test_support.hpp"
#include "platform/codepage.hpp"
#include "recording_host.hpp"
#include "test_support.hpp"
#include "xml/xmlschema.hpp"
#include "xml/xslt.hpp"

namespace fs = std::filesystem;
using test_support::html_stylesheet;
using test_support::read_file;
using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::utf16_meta;
using test_support::utf8_meta;
using test_support::write_file;

namespace {

std::string escape_xml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

/// A stylesheet whose result is exactly page, as plain text.
std::string verbatim_stylesheet(const std::string& page) {
  return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"text\"/><xsl:template match=\"/\"><xsl:text>" +
         escape_xml(page) + "</xsl:text></xsl:template></xsl:stylesheet>";
}

/// The names in a directory, sorted.
std::vector<std::string> file_names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

const std::string earlier_page = "<html><body>pagina precedente</body></html>";

// ---------------------------------------------------------------------------------
// The file checks, in their order, and what each rendering tool answers.

struct MessageCase {
  std::string name;
  friend void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.name; }
  std::optional<std::string> stylesheet;  ///< nullopt: no file
  std::optional<std::string> input;       ///< nullopt: no file
  std::string transform_message;
  std::string xml2html_message;
};

class RenderMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(RenderMessages, ReportsTheFirstFailureAndLeavesTheEarlierPage) {
  const MessageCase& c = GetParam();
  TempDir dir;
  const std::string xsl = dir.dir() + "report.xsl";
  const std::string xml = dir.dir() + "report.xml";
  const std::string html = dir.dir() + "ZONA12.html";
  if (c.stylesheet) write_file(xsl, *c.stylesheet);
  if (c.input) write_file(xml, *c.input);

  write_file(html, earlier_page);
  EXPECT_EQ(tools::xslt_transform(xsl, xml, html), c.transform_message);
  EXPECT_EQ(read_file(html), earlier_page);
  EXPECT_EQ(tools::xml2html(xsl, xml, html), c.xml2html_message);
  EXPECT_EQ(read_file(html), earlier_page);
  std::vector<std::string> expected{"ZONA12.html"};
  if (c.input) expected.push_back("report.xml");
  if (c.stylesheet) expected.push_back("report.xsl");
  EXPECT_EQ(file_names(dir.path()), expected) << "no temporary copy and no file of the stylesheet's own";
}

const std::string good_input = "<referto>testo</referto>";
const std::string not_xml = "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderMessages,
    ::testing::Values(MessageCase{"both_missing_names_the_stylesheet", std::nullopt, std::nullopt,
                                  "file xslt non trovato", "Errore nella conversione xslt"},
                      MessageCase{"stylesheet_missing", std::nullopt, good_input, "file xslt non trovato",
                                  "Errore nella conversione xslt"},
                      MessageCase{"input_missing", html_stylesheet(), std::nullopt, "file xml di input non trovato",
                                  "Errore nella conversione xslt"},
                      MessageCase{"input_missing_is_checked_before_loading", not_xml, std::nullopt,
                                  "file xml di input non trovato", "Errore nella conversione xslt"},
                      MessageCase{"stylesheet_malformed", not_xml, good_input, "file xslt mal formato",
                                  "Errore nella conversione xslt"},
                      MessageCase{"stylesheet_malformed_before_input_malformed", not_xml, "<referto>",
                                  "file xslt mal formato", "Errore nella conversione xslt"},
                      MessageCase{"input_malformed", html_stylesheet(), "<referto>testo</Referto>",
                                  "file xml di input mal formato", "Errore nella conversione xslt"},
                      MessageCase{"empty_input_file", html_stylesheet(), "", "file xml di input mal formato",
                                  "Errore nella conversione xslt"},
                      MessageCase{"well_formed_but_not_a_stylesheet", "<foglio/>", good_input,
                                  "Eccezione nella conversione xslt", "Errore nella conversione xslt"},
                      MessageCase{
                          "stylesheet_stops_the_transformation",
                          "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                          "<xsl:template match=\"/\"><xsl:message terminate=\"yes\">basta</xsl:message></xsl:template>"
                          "</xsl:stylesheet>",
                          good_input, "Eccezione nella conversione xslt", "Errore nella conversione xslt"},
                      MessageCase{"stylesheet_may_not_write_files",
                                  "<xsl:stylesheet version=\"1.1\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
                                  "<xsl:template match=\"/\"><xsl:document href=\"altro.html\"><p/></xsl:document>"
                                  "</xsl:template></xsl:stylesheet>",
                                  good_input, "Eccezione nella conversione xslt", "Errore nella conversione xslt"}),
    [](const auto& info) { return info.param.name; });

TEST(RenderFiles, DirectoriesAreNotFiles) {
  TempDir dir;
  fs::create_directory(dir.path() / "report.xsl");
  fs::create_directory(dir.path() / "report.xml");
  write_file(dir.path() / "ok.xsl", html_stylesheet());
  EXPECT_EQ(tools::xslt_transform(dir.dir() + "report.xsl", dir.dir() + "report.xml", dir.dir() + "a.html"),
            "file xslt non trovato");
  EXPECT_EQ(tools::xslt_transform(dir.dir() + "ok.xsl", dir.dir() + "report.xml", dir.dir() + "a.html"),
            "file xml di input non trovato");
}

// ---------------------------------------------------------------------------------
// The rewrite: which lines go, what replaces the first, and the line ends.

struct RewriteCase {
  std::string name;
  friend void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name; }
  std::string page;      ///< as the transformation writes it
  std::string expected;  ///< the HTML file afterwards (under UTF-8)
};

class RenderRewrite : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(RenderRewrite, DropsOnlyTheExactUtf16DeclarationLine) {
  const RewriteCase& c = GetParam();
  TempDir dir;
  write_file(dir.path() / "page.xsl", verbatim_stylesheet(c.page));
  write_file(dir.path() / "in.xml", "<r/>");
  const std::string html = dir.dir() + "ZONA12.html";

  ASSERT_EQ(tools::xslt_transform(dir.dir() + "page.xsl", dir.dir() + "in.xml", html), "");
  EXPECT_EQ(read_file(html), c.page) << "the transformation step writes the page as it is";

  ASSERT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", html), "");
  EXPECT_EQ(read_file(html), c.expected);
  EXPECT_FALSE(fs::exists(dir.path() / "ZONA12._tmp.html"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderRewrite,
    ::testing::Values(
        RewriteCase{"line_of_its_own", "<html>\n<head>\n" + utf16_meta + "\n<title>T</title>\n</head>\n</html>\n",
                    "<html>\r\n<head>\r\n" + utf8_meta + "\r\n<title>T</title>\r\n</head>\r\n</html>\r\n"},
        RewriteCase{"with_other_markup_on_the_line",
                    "<html>\n<head>" + utf16_meta + "<title>T</title>\n</head>\n</html>\n",
                    "<html>\r\n" + utf8_meta + "\r\n</head>\r\n</html>\r\n"},
        RewriteCase{
            "lower_case_variant_stays",
            "<head>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">\n</head>\n",
            "<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">\r\n</head>\r\n"},
        RewriteCase{"other_charset_stays",
                    "<head>\n<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\n</head>\n",
                    "<head>\r\n<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">\r\n</head>\r\n"},
        RewriteCase{"declared_once_when_repeated", utf16_meta + "\n<p>x</p>\n  " + utf16_meta + "  \n",
                    utf8_meta + "\r\n<p>x</p>\r\n"},
        RewriteCase{"crlf_lines_stay_crlf", "<p>a</p>\r\n" + utf16_meta + "\r\n<p>b</p>\r\n",
                    "<p>a</p>\r\n" + utf8_meta + "\r\n<p>b</p>\r\n"},
        RewriteCase{"last_line_without_break_gets_one", "<p>a</p>\n\n<p>b</p>", "<p>a</p>\r\n\r\n<p>b</p>\r\n"},
        RewriteCase{"empty_page", "", ""},
        // Longer than the pieces the page is written in: no line end or character is cut.
        RewriteCase{"long_lines_of_accented_text",
                    "<p>" + std::string(3000, 'a') + std::string(6000, ' ') + "</p>\n<p>" + repeated("ò", 7001) +
                        "</p>\r\n" + utf16_meta + "\n",
                    "<p>" + std::string(3000, 'a') + std::string(6000, ' ') + "</p>\r\n<p>" + repeated("ò", 7001) +
                        "</p>\r\n" + utf8_meta + "\r\n"}),
    [](const auto& info) { return info.param.name; });

TEST(RenderRewrite, PageDirectoryIsMadeAndAnUnwritablePageIsAFailure) {
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<r>testo</r>");
  const std::string nested = dir.dir() + "nuova" + std::string(1, fs::path::preferred_separator) + "ZONA12.html";
  EXPECT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", nested), "");
  EXPECT_NE(read_file(nested).find("testo"), std::string::npos);

  // A directory where the page should go: not replaced, and the failure is told.
  fs::create_directory(dir.path() / "occupato.html");
  std::string reason;
  EXPECT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", dir.dir() + "occupato.html", {}, &reason),
            "Errore nella conversione xslt");
  EXPECT_NE(reason.find("occupato.html"), std::string::npos) << reason;
  EXPECT_TRUE(fs::is_directory(dir.path() / "occupato.html"));
}

TEST(RenderRewrite, PageNamedLikeItsTemporaryCopyIsNotEmptied) {
  // "page_tmp" without an extension: the rewrite's temporary file has a name of its own.
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<r>testo</r>");
  const std::string html = dir.dir() + "page_tmp";
  EXPECT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", html), "");
  EXPECT_NE(read_file(html).find("testo"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3) << "nothing left beside";
}

// ---------------------------------------------------------------------------------
// The page in the ANSI code page, and a second page in place of the first.

struct CharsetCase {
  std::string name;
  friend void PrintTo(const CharsetCase& c, std::ostream* os) { *os << c.name; }
  std::string codepage;  ///< PIVZONA12_CODEPAGE
  std::string declared;
  std::string name_bytes;  ///< "Niccolò D'Alò" as the page holds it
};

class RenderCharset : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(RenderCharset, PageDeclaresTheCharsetItIsWrittenIn) {
  const CharsetCase& c = GetParam();
  ScopedEnv codepage("PIVZONA12_CODEPAGE", c.codepage);
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<r>Niccolò D'Alò (Łódź)</r>");
  const std::string html = dir.dir() + "ZONA12.html";
  ASSERT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", html), "");
  const std::string page = read_file(html);
  const std::string meta = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=" + c.declared + "\">";
  EXPECT_NE(page.find("<head>\r\n" + meta + "\r\n<title>"), std::string::npos) << page;
  EXPECT_EQ(page.find("UTF-16"), std::string::npos);
  EXPECT_EQ(page.find(meta), page.rfind(meta)) << "declared once";
  EXPECT_NE(page.find("<p>" + c.name_bytes), std::string::npos) << page;
  EXPECT_NE(platform::from_ansi(page).find("Niccolò D'Alò"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderCharset,
    ::testing::Values(CharsetCase{"utf8", "UTF-8", "UTF-8", "Niccolò D'Alò (Łódź)"},
                      // Ł and ź are not in windows-1252: they come out as the conversion gives them.
                      CharsetCase{"cp1252", "CP1252", "windows-1252",
                                  "Niccol\xF2 D'Al\xF2 (?\xF3"
                                  "d?)"}),
    [](const auto& info) { return info.param.name; });

TEST(RenderTwice, SecondReportReplacesThePageAndNoTemporaryRemains) {
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "one.xml", "<r>primo referto</r>");
  write_file(dir.path() / "two.xml", "<r>secondo referto</r>");
  const std::string html = dir.dir() + "ZONA12.html";
  ASSERT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "one.xml", html), "");
  ASSERT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "two.xml", html), "");
  const std::string page = read_file(html);
  EXPECT_NE(page.find("secondo referto"), std::string::npos);
  EXPECT_EQ(page.find("primo referto"), std::string::npos);
  EXPECT_EQ(file_names(dir.path()), (std::vector<std::string>{"ZONA12.html", "one.xml", "page.xsl", "two.xml"}));
}

// A link in the page's place, to a file or to nothing: the page replaces the link itself,
// and the file it points to stays as it was (the page is the program's own file).
class RenderOverALink : public ::testing::TestWithParam<bool> {};

TEST_P(RenderOverALink, ThePageReplacesTheLinkAndLeavesItsTarget) {
  if (test_support::windows) GTEST_SKIP() << "symbolic links need a privilege on Windows and Wine has none";
  const bool target_there = GetParam();
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<r>referto</r>");
  fs::create_directory(dir.path() / "altrove");
  const fs::path victim = dir.path() / "altrove" / "del medico.html";
  if (target_there) write_file(victim, "da non toccare");
  fs::create_symlink(victim, dir.path() / "ZONA12.html");
  const std::string html = dir.dir() + "ZONA12.html";
  ASSERT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", html), "");
  EXPECT_FALSE(fs::is_symlink(html));
  EXPECT_NE(read_file(html).find("referto"), std::string::npos);
  EXPECT_EQ(fs::status(html).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
  if (target_there)
    EXPECT_EQ(read_file(victim), "da non toccare");
  else
    EXPECT_FALSE(fs::exists(victim)) << "nothing made where the link pointed";
  EXPECT_EQ(file_names(dir.path() / "altrove"),
            target_there ? std::vector<std::string>{"del medico.html"} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderOverALink, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "LinkToAFile" : "DanglingLink"; });

// ---------------------------------------------------------------------------------
// The message box of the runs.

TEST(MessageBox, AddsTheSystemModalStyleAndReturnsTheAnswer) {
  struct Case {
    unsigned flags;
    unsigned shown;
    int answer;
  };
  for (const Case& c : {Case{0, 4096, 1}, Case{1, 4097, 2}, Case{48, 4144, 1}}) {
    SCOPED_TRACE(c.flags);
    test_support::RecordingHost host;
    host.box_answer = c.answer;
    EXPECT_EQ(tools::message_box("Nessun paziente estratto!", "Estrazione TAO", c.flags, host), c.answer);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].flags, c.shown);
    EXPECT_EQ(host.boxes[0].text, "Nessun paziente estratto!");
    EXPECT_EQ(host.boxes[0].caption, "Estrazione TAO");
  }
}

TEST(MessageBox, NoBoxGivesZero) {
  test_support::RecordingHost failing;
  failing.boxes_fail = true;
  EXPECT_EQ(tools::message_box("testo", "titolo", 0, failing), 0);
  EXPECT_EQ(tools::message_box("testo", "titolo", 0, frontend::headless_host()), 0)
      << "the headless host shows nothing";
}

}  // namespace

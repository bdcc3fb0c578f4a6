// Rendering a report into the HTML page: the processor, the file checks and their
// messages, the rewrite of the charset line, the three report stylesheets and the
// report schemas.
#include "render/render.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/codepage.hpp"
#include "platform/host.hpp"
#include "test_support.hpp"
#include "xml/xmlschema.hpp"
#include "xml/xslt.hpp"

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::ScopedEnv;
using test_support::TempDir;
using test_support::write_file;

namespace {

const std::string utf16_meta = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">";
const std::string utf8_meta = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">";

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

/// An HTML stylesheet that shows the text of the input's root element in a page.
std::string html_stylesheet(const std::string& output_attributes = "") {
  return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"html\" " +
         output_attributes +
         "/><xsl:template match=\"/\">"
         "<html><head><title>Prova</title></head><body><p><xsl:value-of select=\"/*\"/></p></body></html>"
         "</xsl:template></xsl:stylesheet>";
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
// The processor's page, and the page that xml2html leaves.

TEST(XsltProcessor, HtmlPageCarriesTheUtf16DeclarationOnItsOwnLine) {
  TempDir dir;
  // The encoding the stylesheet asks for does not matter: the page comes back as text.
  write_file(dir.path() / "page.xsl", html_stylesheet("encoding=\"ISO-8859-1\""));
  write_file(dir.path() / "in.xml", "<r>Niccolò D'Alò</r>");
  platform::XsltProcessor processor;
  ASSERT_TRUE(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_TRUE(processor.load_input(dir.dir() + "in.xml"));
  const std::string page = processor.transform();
  EXPECT_NE(page.find("<head>\n" + utf16_meta + "\n<title>Prova</title>"), std::string::npos) << page;
  EXPECT_NE(page.find("<p>Niccolò D'Alò</p>"), std::string::npos) << page;
  EXPECT_EQ(page.find("charset=ISO-8859-1"), std::string::npos) << page;
  EXPECT_EQ(processor.transform(), page) << "the loaded documents serve again";
}

// A writer that refuses the page part-way (a full disk) makes the transformation answer
// false for its caller to report; libxml2 prints nothing of its own.
TEST(XsltProcessor, APageTheWriterRefusesIsFalseWithoutLibxmlLines) {
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet(""));
  write_file(dir.path() / "in.xml", "<r>" + std::string(100'000, 'x') + "</r>");
  platform::XsltProcessor processor;
  ASSERT_TRUE(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_TRUE(processor.load_input(dir.dir() + "in.xml"));
  std::size_t taken = 0;
  testing::internal::CaptureStderr();
  const bool written = processor.transform_to([&taken](std::string_view piece) {
    taken += piece.size();
    return taken < 8'000;
  });
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(written);
}

/// The reason the processor gives for not transforming, or "" when it transforms.
std::string transform_failure(const platform::XsltProcessor& processor) {
  try {
    processor.transform();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "";
}

TEST(XsltProcessor, FailuresAreExceptionsWithTheReason) {
  TempDir dir;
  write_file(dir.path() / "bad.xsl",
             "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
             "<xsl:template match=\"/\"><xsl:value-of select=\"1 +\"/></xsl:template></xsl:stylesheet>");
  write_file(dir.path() / "in.xml", "<r/>");
  platform::XsltProcessor processor;
  EXPECT_THROW(processor.transform(), std::runtime_error) << "nothing loaded";
  ASSERT_TRUE(processor.load_stylesheet(dir.dir() + "bad.xsl"));
  ASSERT_TRUE(processor.load_input(dir.dir() + "in.xml"));
  const std::string reason = transform_failure(processor);
  EXPECT_NE(reason.find("1 +"), std::string::npos) << "an invalid expression must not transform: " << reason;
  EXPECT_FALSE(processor.load_input(dir.dir() + "missing.xml"));
}

TEST(XsltProcessor, ParametersAreTextNeverExpressions) {
  TempDir dir;
  write_file(dir.path() / "page.xsl",
             "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
             "<xsl:output method=\"text\"/><xsl:param name=\"a\"/><xsl:param name=\"b\">predefinito</xsl:param>"
             "<xsl:template match=\"/\">[<xsl:value-of select=\"$a\"/>][<xsl:value-of select=\"$b\"/>]"
             "</xsl:template></xsl:stylesheet>");
  write_file(dir.path() / "in.xml", "<r/>");
  platform::XsltProcessor processor;
  ASSERT_TRUE(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_TRUE(processor.load_input(dir.dir() + "in.xml"));
  EXPECT_EQ(processor.transform(), "[][predefinito]");
  EXPECT_EQ(processor.transform({{"a", "D'Alò \"Ciro\""}, {"b", "1 + 1"}}), "[D'Alò \"Ciro\"][1 + 1]");
  EXPECT_EQ(processor.transform({{"a", "/r"}}), "[/r][predefinito]") << "a path stays a text";
}

TEST(XsltProcessor, InputEntitiesDoNotReadOtherFiles) {
  TempDir dir;
  write_file(dir.path() / "secret.txt", "segreto");
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<!DOCTYPE r [<!ENTITY s SYSTEM \"" + dir.dir() + "secret.txt\">]><r>&s;</r>");
  platform::XsltProcessor processor;
  ASSERT_TRUE(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_TRUE(processor.load_input(dir.dir() + "in.xml"));
  EXPECT_EQ(processor.transform().find("segreto"), std::string::npos);
}

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

// ---------------------------------------------------------------------------------
// The message box of the runs.

class RecordingHost : public platform::Host {
 public:
  int message_box(const std::string& text, const std::string& caption, unsigned flags) override {
    if (fail) throw std::runtime_error("nessuna finestra");
    shown_text = text;
    shown_caption = caption;
    shown_flags = flags;
    return answer;
  }
  bool fail = false;
  int answer = platform::id_ok;
  std::string shown_text, shown_caption;
  unsigned shown_flags = 0;
};

TEST(MessageBox, AddsTheSystemModalStyleAndReturnsTheAnswer) {
  struct Case {
    unsigned flags;
    unsigned shown;
    int answer;
  };
  for (const Case& c : {Case{0, 4096, 1}, Case{1, 4097, 2}, Case{48, 4144, 1}}) {
    SCOPED_TRACE(c.flags);
    RecordingHost host;
    host.answer = c.answer;
    EXPECT_EQ(tools::message_box("Nessun paziente estratto!", "Estrazione TAO", c.flags, host), c.answer);
    EXPECT_EQ(host.shown_flags, c.shown);
    EXPECT_EQ(host.shown_text, "Nessun paziente estratto!");
    EXPECT_EQ(host.shown_caption, "Estrazione TAO");
  }
}

TEST(MessageBox, NoBoxGivesZero) {
  RecordingHost failing;
  failing.fail = true;
  EXPECT_EQ(tools::message_box("testo", "titolo", 0, failing), 0);
  EXPECT_EQ(tools::message_box("testo", "titolo", 0, platform::headless_host()), 0)
      << "the headless host shows nothing";
}

// ---------------------------------------------------------------------------------
// The three report stylesheets on the sample reports, from an installation directory
// whose path has a blank in it (the stylesheets include their shared part from there).

struct StylesheetCase {
  std::string name;
  friend void PrintTo(const StylesheetCase& c, std::ostream* os) { *os << c.name; }
  std::string stylesheet;
  std::string sample;
  std::vector<std::string> expected;  ///< texts the page must hold
};

class ReportStylesheets : public ::testing::TestWithParam<StylesheetCase> {
 protected:
  ReportStylesheets() {
    fs::create_directories(appdir);
    test_support::copy_stylesheets(appdir);
  }
  std::string render(const std::string& xml) {
    const std::string html = (appdir / "ZONA12.html").string();
    const std::string message = tools::xml2html((appdir / GetParam().stylesheet).string(), xml, html);
    EXPECT_EQ(message, "");
    return read_file(html);
  }
  TempDir dir;
  fs::path appdir = dir.path() / "Program Files" / "Praxilo";
};

TEST_P(ReportStylesheets, SampleReportBecomesAReadablePage) {
  const StylesheetCase& c = GetParam();
  const std::string page = render(std::string(PZ_FIXTURES_DIR) + "/" + c.sample);
  for (const std::string& text : c.expected) EXPECT_NE(page.find(text), std::string::npos) << text;
  for (const std::string& text : {std::string("<!DOCTYPE html>"), std::string("<html lang=\"it\">"), utf8_meta,
                                  std::string("001234"), std::string("RSSMRA60A01H501U"), std::string("Niccolò"),
                                  std::string("D'Alò"), std::string("page-break-inside: avoid")})
    EXPECT_NE(page.find(text), std::string::npos) << text;
  EXPECT_EQ(page.find("NaN"), std::string::npos);
  EXPECT_EQ(page.find("xmlns"), std::string::npos) << "no report namespace leaks into the page";
}

TEST_P(ReportStylesheets, PageReadsTheSameInCp1252) {
  const std::string xml = std::string(PZ_FIXTURES_DIR) + "/" + GetParam().sample;
  const std::string utf8_page = render(xml);
  ScopedEnv codepage("PIVZONA12_CODEPAGE", "CP1252");
  std::string page = platform::from_ansi(render(xml));
  const std::string declared = "charset=windows-1252";
  ASSERT_NE(page.find(declared), std::string::npos);
  page.replace(page.find(declared), declared.size(), "charset=UTF-8");
  EXPECT_EQ(page, utf8_page) << "every character of the page exists in windows-1252";
}

TEST_P(ReportStylesheets, ReportWithoutPatientsSaysSo) {
  const StylesheetCase& c = GetParam();
  std::string xml = read_file(fs::path(PZ_FIXTURES_DIR) / c.sample);
  xml = xml.substr(0, xml.find("<assistito>")) + xml.substr(xml.rfind("</assistito>") + 12);
  write_file(dir.path() / "empty.xml", xml);
  const std::string page = render((dir.path() / "empty.xml").string());
  EXPECT_NE(page.find("Nessun assistito nel report."), std::string::npos);
  EXPECT_NE(page.find("<p class=\"riepilogo\">0 assistiti"), std::string::npos);
  EXPECT_EQ(page.find("NaN"), std::string::npos);
}

/// The text of the table row that holds label, markup removed.
std::string row_text(const std::string& page, const std::string& label) {
  const std::size_t at = page.find(label);
  if (at == std::string::npos) return "";
  const std::size_t start = page.rfind("<tr", at);
  const std::size_t end = page.find("</tr>", at);
  std::string text;
  bool in_tag = false;
  for (char c : page.substr(start, end - start)) {
    if (c == '<') in_tag = true;
    if (!in_tag && c != '\n' && c != '\r') text += c;
    if (c == '>') in_tag = false;
  }
  return text;
}

TEST(DiabetesStylesheet, SummaryCountsPatientsWithAtLeastOneRecordPerIndicator) {
  TempDir dir;
  const std::string html = dir.dir() + "ZONA12.html";
  ASSERT_EQ(tools::xml2html(std::string(PZ_SOURCE_DIR) + "/xsl/Diabete_to_HTML.xsl",
                            std::string(PZ_FIXTURES_DIR) + "/sample_diabete.xml", html),
            "");
  const std::string page = read_file(html);
  struct Case {
    std::string label;
    std::string shown;
  };
  // Four patients: two check-ups of one patient count once; one patient has no record.
  for (const Case& c : {Case{"Controllo clinico",
                             "3 su 4"
                             "75,0%"
                             "1 da richiamare"},
                        Case{"Esame dei piedi",
                             "2 su 4"
                             "50,0%"
                             "2 da richiamare"},
                        Case{"Microalbuminuria",
                             "1 su 4"
                             "25,0%"
                             "3 da richiamare"},
                        Case{"Abitudine al fumo",
                             "2 su 4"
                             "50,0%"
                             "2 da richiamare"}}) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(row_text(page, "<th>" + c.label + "</th>"), c.label + c.shown);
  }
  EXPECT_NE(page.find("style=\"width: 75.0%\""), std::string::npos) << "a CSS length keeps its decimal point";
  EXPECT_NE(page.find("0 indicatori su 14"), std::string::npos);
  EXPECT_NE(page.find("14 indicatori su 14"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Programmes, ReportStylesheets,
                         ::testing::Values(StylesheetCase{"diabete",
                                                          "Diabete_to_HTML.xsl",
                                                          "sample_diabete.xml",
                                                          {"Gestione integrata del diabete", "15/03/2024 14:35",
                                                           "Presa in carico dal", "10/05/2023", "DM2-001288",
                                                           "145/85 mmHg", "150/– mmHg", "Patologico", "fumatore",
                                                           "7,2%", "Maria Grazia", "nessuna rilevazione"}},
                                           StylesheetCase{"tao",
                                                          "Tao_to_HTML.xsl",
                                                          "sample_tao.xml",
                                                          {"Terapia anticoagulante orale", "16/03/2024 09:15",
                                                           "<span class=\"cifra\">2,6</span>", "05/03/2024",
                                                           "09/01/2024", "Nessuna consulenza nel periodo", "Marino"}},
                                           StylesheetCase{"vaccinazioni",
                                                          "Vac_to_HTML.xsl",
                                                          "sample_vaccinazioni.xml",
                                                          {"Vaccinazione antinfluenzale", "17/03/2024 18:02",
                                                           "18/10/2023", "12/01/2023", "05/11/2023", "Verdi"}}),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------
// What the pages state beyond the report: the period, numbers as written in Italian,
// the shares, the recall list and the vaccinated by age.

/// A diabetes report of three patients: Rossi has a check-up, a glycated haemoglobin of
/// 7.2 and a BMI of 27.35; Verdi only a check-up; Bianchi nothing.
const std::string small_diabetes_report = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<diabete xmlns="http://www.zona12.asl.it/asl/diabete"><dataOraProduzione>20250110090000</dataOraProduzione>
<medico><codiceRegionale>001234</codiceRegionale><codiceFiscale>RSSMRA60A01H501U</codiceFiscale>
<assistito><codiceFiscale>A</codiceFiscale><cognome>Rossi</cognome><nome>Ada</nome><sesso>F</sesso>
<dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio>
<controlloClinico><data>20240301</data></controlloClinico>
<emoglobinaGlicata><data>20240301</data><valore>7.2</valore></emoglobinaGlicata>
<bmi><data>20240301</data><valore>27.35</valore></bmi></monitoraggio></assistito>
<assistito><codiceFiscale>B</codiceFiscale><cognome>Verdi</cognome><nome>Bruno</nome><sesso>M</sesso>
<dataNascita>19600202</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio>
<controlloClinico><data>20240401</data></controlloClinico></monitoraggio></assistito>
<assistito><codiceFiscale>C</codiceFiscale><cognome>Bianchi</cognome><nome>Carla</nome><sesso>F</sesso>
<dataNascita>19700303</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio/></assistito>
</medico></diabete>)";

class PageStatements : public ::testing::Test {
 protected:
  std::string render(const std::string& stylesheet, const std::string& report,
                     const platform::XsltParameters& parameters) {
    write_file(dir.path() / "report.xml", report);
    const std::string html = dir.dir() + "ZONA12.html";
    EXPECT_EQ(
        tools::xml2html(std::string(PZ_SOURCE_DIR) + "/xsl/" + stylesheet, dir.dir() + "report.xml", html, parameters),
        "");
    return read_file(html);
  }
  /// The text of the recall block of an indicator, markup removed.
  static std::string recall_text(const std::string& page, const std::string& indicator) {
    const std::size_t id = page.find("id=\"richiamo-" + indicator + "\"");
    if (id == std::string::npos) return "";
    const std::size_t at = page.rfind("<div", id);
    return text_of(page.substr(at, page.find("</div>", at) - at));
  }
  static std::string text_of(const std::string& markup) {
    std::string text;
    bool in_tag = false;
    for (char c : markup) {
      if (c == '<') in_tag = true;
      if (!in_tag && c != '\n' && c != '\r') text += c;
      if (c == '>') in_tag = false;
    }
    return text;
  }
  TempDir dir;
  const platform::XsltParameters period{
      {"dal", "20240101"}, {"al", "20241231"}, {"nominativo", "Maria D'Alò"}, {"asl", "ASL 12 \"Zona\""}};
};

TEST_F(PageStatements, HeaderStatesThePeriodAndTheDoctorOnlyWhenGiven) {
  const std::string page = render("Diabete_to_HTML.xsl", small_diabetes_report, period);
  EXPECT_NE(page.find("<p class=\"periodo\">Periodo: dal 01/01/2024 al 31/12/2024</p>"), std::string::npos);
  EXPECT_NE(page.find("<dd>Maria D'Alò</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dd>ASL 12 \"Zona\"</dd>"), std::string::npos);
  const std::size_t running = page.find("<div class=\"intestazione-stampa\">");
  ASSERT_NE(running, std::string::npos);
  EXPECT_EQ(text_of(page.substr(running, page.find("</div>", running) - running)),
            "Gestione integrata del diabete · Medico: Maria D'Alò (001234) · "
            "ASL: ASL 12 \"Zona\" · Periodo: dal 01/01/2024 al 31/12/2024")
      << "printed on every sheet";

  const std::string bare = render("Diabete_to_HTML.xsl", small_diabetes_report, {});
  EXPECT_EQ(bare.find("Periodo"), std::string::npos);
  EXPECT_EQ(bare.find("<dt>ASL</dt>"), std::string::npos);
}

TEST_F(PageStatements, ValuesHaveADecimalCommaAndTheirUnit) {
  const std::string page = render("Diabete_to_HTML.xsl", small_diabetes_report, period);
  EXPECT_NE(page.find("<strong>7,2%</strong>"), std::string::npos);
  EXPECT_NE(page.find("<strong>27,35 kg/m²</strong>"), std::string::npos);
  EXPECT_EQ(page.find("7.2"), std::string::npos);
}

TEST_F(PageStatements, RecordsThatAreBlankOrOddShowAsTheyStand) {
  const std::string report = R"(<diabete xmlns="http://www.zona12.asl.it/asl/diabete">
<dataOraProduzione>20250110090000</dataOraProduzione><medico><codiceRegionale>001234</codiceRegionale>
<codiceFiscale>C</codiceFiscale><assistito><codiceFiscale>A</codiceFiscale><cognome>Rossi</cognome><nome>Ada</nome>
<sesso>F</sesso><dataNascita>19500101</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>
<presaInCarico><data>20200101</data><codice></codice></presaInCarico><monitoraggio>
<controlloClinico><data>20240301</data></controlloClinico><controlloClinico><data>2024030</data></controlloClinico>
<pressioneArteriosa><data>20240301</data><min>80.5</min><max></max></pressioneArteriosa>
<esamePiedi><data>20240301</data><esito>Patologico</esito></esamePiedi>
<esamePiedi><data>20230301</data><esito>Normale</esito></esamePiedi>
<emoglobinaGlicata><data>20240301</data><valore> </valore></emoglobinaGlicata>
<emoglobinaGlicata><data>20230301</data><valore></valore></emoglobinaGlicata>
<abitudineFumo><data>20240301</data><booleano>No</booleano></abitudineFumo>
<abitudineFumo><data>20230301</data><booleano>x.y</booleano></abitudineFumo>
</monitoraggio></assistito></medico></diabete>)";
  const std::string page = render("Diabete_to_HTML.xsl", report, period);
  for (const std::string& shown :
       {// A date that is not eight digits stands as it is; only the newest record is "ultima".
        std::string("<span class=\"voce ultima \"><span class=\"quando\">01/03/2024</span></span>"
                    "<span class=\"voce \"><span class=\"quando\">2024030</span></span>"),
        // A pressure value not recorded is a dash.
        std::string("<span class=\"quando\">01/03/2024</span> <strong>–/80,5 mmHg</strong>"),
        std::string("<span class=\"voce ultima patologico\"><span class=\"quando\">01/03/2024</span> "
                    "<strong>Patologico</strong></span><span class=\"voce \">"),
        // A blank value is written without its unit, an empty one not at all.
        std::string("<span class=\"quando\">01/03/2024</span> <strong> </strong></span>"
                    "<span class=\"voce \"><span class=\"quando\">01/03/2023</span></span>"),
        std::string("<strong>non fumatore</strong>"), std::string("<strong>x,y</strong>"),
        std::string("<span class=\"distintivo\">5 indicatori su 14</span>")}) {
    EXPECT_NE(page.find(shown), std::string::npos) << shown;
  }
}

TEST_F(PageStatements, RecallListsThePatientsWithoutARecordAsTheSummaryCountsThem) {
  const std::string page = render("Diabete_to_HTML.xsl", small_diabetes_report, period);
  EXPECT_NE(page.find("<h2>Da richiamare</h2>"), std::string::npos);
  EXPECT_EQ(row_text(page, "<th>Controllo clinico</th>"), "Controllo clinico2 su 366,7%1 da richiamare");
  EXPECT_EQ(recall_text(page, "controlloClinico"), "Controllo clinico · 1 assistitoBianchi Carla 03/03/1970");
  EXPECT_EQ(row_text(page, "<th>Emoglobina glicata</th>"), "Emoglobina glicata1 su 333,3%2 da richiamare");
  EXPECT_EQ(recall_text(page, "emoglobinaGlicata"),
            "Emoglobina glicata · 2 assistitiVerdi Bruno 02/02/1960Bianchi Carla 03/03/1970");
  EXPECT_EQ(recall_text(page, "fondoOculare"),
            "Fondo oculare · 3 assistitiRossi Ada 01/01/1950Verdi Bruno 02/02/1960Bianchi Carla 03/03/1970");
  // Each name leads to the patient's block.
  const std::size_t link = page.find("href=\"#", page.find("id=\"richiamo-controlloClinico\""));
  const std::string target = page.substr(link + 7, page.find('"', link + 7) - link - 7);
  const std::size_t block = page.find("<article class=\"assistito\" id=\"" + target + "\">");
  ASSERT_NE(block, std::string::npos);
  EXPECT_LT(page.find("Bianchi", block), page.find("</article>", block));
}

TEST_F(PageStatements, NoRecallWhenEveryPatientHasTheRecord) {
  const std::string& report = small_diabetes_report;
  const std::string one_patient = report.substr(0, report.find("<assistito><codiceFiscale>B")) + "</medico></diabete>";
  const std::string page = render("Diabete_to_HTML.xsl", one_patient, period);
  EXPECT_EQ(row_text(page, "<th>Controllo clinico</th>"), "Controllo clinico1 su 1100,0%");
  EXPECT_EQ(recall_text(page, "controlloClinico"),
            "Controllo clinico · 0 assistitiNessuno: tutti gli assistiti hanno almeno una rilevazione.");
}

struct ShareCase {
  std::string name;
  friend void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.name; }
  int part;
  int total;
  std::string shown;
};

class PageShares : public ::testing::TestWithParam<ShareCase> {};

/// What a template of the shared part writes when a stylesheet that imports the shared
/// part does nothing else than call it (call: the xsl:call-template element).
std::string shared_template_text(const std::string& call) {
  TempDir dir;
  test_support::copy_stylesheets(dir.path());
  write_file(dir.path() / "chiamata.xsl",
             "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
             "<xsl:import href=\"ZONA12_comune.xsl\"/>"
             "<xsl:output method=\"text\"/><xsl:template match=\"/\">" +
                 call + "</xsl:template></xsl:stylesheet>");
  write_file(dir.path() / "in.xml", "<r/>");
  platform::XsltProcessor processor;
  EXPECT_TRUE(processor.load_stylesheet(dir.dir() + "chiamata.xsl"));
  EXPECT_TRUE(processor.load_input(dir.dir() + "in.xml"));
  return processor.transform();
}

TEST_P(PageShares, NeverShowAllOrNoneUnlessSo) {
  const ShareCase& c = GetParam();
  EXPECT_EQ(shared_template_text("<xsl:call-template name=\"percentuale\">"
                                 "<xsl:with-param name=\"parte\" select=\"" +
                                 std::to_string(c.part) +
                                 "\"/>"
                                 "<xsl:with-param name=\"totale\" select=\"" +
                                 std::to_string(c.total) +
                                 "\"/>"
                                 "</xsl:call-template>"),
            c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageShares,
    ::testing::Values(ShareCase{"one_missing_of_255_is_not_all", 254, 255, "99,6%"},
                      ShareCase{"one_missing_of_3000_rounds_to_all_but_shows_less", 2999, 3000, "99,9%"},
                      ShareCase{"all", 255, 255, "100,0%"},
                      ShareCase{"one_of_3000_rounds_to_none_but_shows_some", 1, 3000, "0,1%"},
                      ShareCase{"none", 0, 255, "0,0%"}, ShareCase{"two_thirds_rounded", 2, 3, "66,7%"},
                      ShareCase{"no_patients", 0, 0, "0,0%"}),
    [](const auto& info) { return info.param.name; });

TEST(PageDates, OnlyEightDigitsBecomeADate) {
  struct Case {
    std::string value;
    std::string shown;
  };
  for (const Case& c : {Case{"20240301", "01/03/2024"}, Case{"00000000", "00/00/0000"}, Case{"", "—"}, Case{"   ", "—"},
                        Case{"2024030", "2024030"}, Case{"202403011", "202403011"}, Case{"2024.301", "2024.301"},
                        Case{" 2024030", " 2024030"}, Case{"2024-3-1", "2024-3-1"}, Case{"abcdefgh", "abcdefgh"},
                        Case{"２０２４０３０１", "２０２４０３０１"}}) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(shared_template_text("<xsl:call-template name=\"data\"><xsl:with-param name=\"valore\" select=\"'" +
                                   c.value + "'\"/></xsl:call-template>"),
              c.shown);
  }
}

TEST_F(PageStatements, VaccinatedByAgeOnThePeriodsLastDay) {
  auto patient = [](const std::string& surname, const std::string& birth) {
    return "<assistito><codiceFiscale>X</codiceFiscale><cognome>" + surname +
           "</cognome><nome>N</nome><sesso>F</sesso>"
           "<dataNascita>" +
           birth +
           "</dataNascita><comuneNascita><codiceIstat>1</codiceIstat></comuneNascita>"
           "<monitoraggio><antiInfluenzale><data>20241020</data></antiInfluenzale></monitoraggio></assistito>";
  };
  const std::string report =
      "<vaccinazioni xmlns=\"http://www.zona12.asl.it/asl/vaccinazioni\"><dataOraProduzione>20250301090000"
      "</dataOraProduzione><medico><codiceRegionale>001234</codiceRegionale><codiceFiscale>C</codiceFiscale>" +
      patient("Sessantacinque", "19591231") + patient("Sessantaquattro", "19600101") + patient("Anziana", "19300615") +
      patient("Ignota", "") + "</medico></vaccinazioni>";
  const std::string page = render("Vac_to_HTML.xsl", report, period);
  const std::size_t from = page.find("<div class=\"cifre\">");
  std::string figures;
  for (char c : text_of(page.substr(from, page.find("<h2>Assistiti vaccinati</h2>") - from)))
    if (c != ' ' || (!figures.empty() && figures.back() != ' ')) figures += c;
  // Born 31/12/1959: 65 on 31/12/2024; born a day later: 64.
  EXPECT_NE(figures.find("2 di 65 anni e più (50,0%)"), std::string::npos) << figures;
  EXPECT_NE(figures.find("1 sotto i 65 anni (25,0%)"), std::string::npos) << figures;
  EXPECT_NE(figures.find("1età non nota"), std::string::npos) << figures;
  EXPECT_NE(figures.find("Età al 31/12/2024"), std::string::npos) << figures;
  EXPECT_NE(row_text(page, "Sessantaquattro").find("01/01/196064"), std::string::npos)
      << row_text(page, "Sessantaquattro");
}

// ---------------------------------------------------------------------------------
// The page's blocks written out as they are made (the processor's block instruction):
// the page must be byte for byte the one xsl:apply-templates gives, which the same
// stylesheet gives when the instruction is unknown and its fallback runs.

/// The page a stylesheet file makes of an input file, and how many result nodes the
/// transformation wrote out on the way.
struct MadePage {
  std::string page;
  std::size_t written_out = 0;
};

MadePage make_page(const std::string& xsl, const std::string& xml, const platform::XsltParameters& parameters = {}) {
  platform::XsltProcessor processor;
  MadePage made;
  EXPECT_TRUE(processor.load_stylesheet(xsl)) << xsl;
  EXPECT_TRUE(processor.load_input(xml)) << xml;
  EXPECT_TRUE(processor.transform_to(
      [&made](std::string_view piece) {
        made.page.append(piece);
        return true;
      },
      parameters));
  made.written_out = processor.nodes_written_out();
  return made;
}

/// The stylesheet text with the block instruction in a namespace the processor does not
/// know, so that the instruction's fallback makes the page.
std::string with_unknown_instruction(std::string xsl) {
  const std::string known = "urn:zona12:pagina", unknown = "urn:zona12:pagina-altrove";
  for (std::size_t at = xsl.find(known); at != std::string::npos; at = xsl.find(known, at + unknown.size()))
    xsl.replace(at, known.size(), unknown);
  return xsl;
}

/// A report of the programme with `count` patients, taken in turn from the sample.
std::string report_with_patients(const std::string& sample, int count) {
  const std::string text = read_file(fs::path(PZ_FIXTURES_DIR) / sample);
  const std::size_t first = text.find("<assistito>");
  const std::size_t end = text.rfind("</assistito>") + std::string("</assistito>").size();
  std::vector<std::string> patients;
  for (std::size_t at = first; at < end;) {
    const std::size_t close = text.find("</assistito>", at) + std::string("</assistito>").size();
    patients.push_back(text.substr(at, close - at));
    at = text.find("<assistito>", close);
  }
  std::string body;
  for (int i = 0; i < count; ++i) body += patients[static_cast<std::size_t>(i) % patients.size()] + "\n";
  return text.substr(0, first) + body + text.substr(end);
}

struct ProgrammePage {
  std::string name;
  friend void PrintTo(const ProgrammePage& c, std::ostream* os) { *os << c.name; }
  std::string stylesheet;
  std::string sample;
  bool recall_lists;  ///< the page also writes out its lists of patients to recall
};

class ProgrammePages : public ::testing::TestWithParam<std::tuple<ProgrammePage, int>> {};

TEST_P(ProgrammePages, BlocksWrittenOutGiveTheSamePage) {
  const auto& [programme, patients] = GetParam();
  TempDir dir;
  const fs::path own = dir.path() / "propri", fallback = dir.path() / "ripiego";
  fs::create_directories(own);
  fs::create_directories(fallback);
  test_support::copy_stylesheets(own);
  test_support::copy_stylesheets(fallback);
  write_file(fallback / programme.stylesheet, with_unknown_instruction(read_file(own / programme.stylesheet)));
  write_file(dir.path() / "report.xml", report_with_patients(programme.sample, patients));
  const platform::XsltParameters parameters{
      {"dal", "20230101"}, {"al", "20231231"}, {"nominativo", "Maria D'Alò"}, {"asl", "ASL 12"}};

  const MadePage made = make_page((own / programme.stylesheet).string(), dir.dir() + "report.xml", parameters);
  const MadePage expected = make_page((fallback / programme.stylesheet).string(), dir.dir() + "report.xml", parameters);
  EXPECT_EQ(expected.written_out, 0u) << "the fallback holds the whole page";
  // One block per patient; the last one stays in the page until it is written whole.
  const auto blocks_written_out = static_cast<std::size_t>(std::max(patients - 1, 0));
  if (programme.recall_lists)
    EXPECT_GE(made.written_out, blocks_written_out);
  else
    EXPECT_EQ(made.written_out, blocks_written_out);
  EXPECT_EQ(made.page, expected.page);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProgrammePages,
    ::testing::Combine(::testing::Values(ProgrammePage{"diabete", "Diabete_to_HTML.xsl", "sample_diabete.xml", true},
                                         ProgrammePage{"tao", "Tao_to_HTML.xsl", "sample_tao.xml", false},
                                         ProgrammePage{"vaccinazioni", "Vac_to_HTML.xsl", "sample_vaccinazioni.xml",
                                                       false}),
                       ::testing::Values(0, 1, 2, 3, 7)),
    [](const auto& info) {
      return std::get<0>(info.param).name + "_" + std::to_string(std::get<1>(info.param)) + "_assistiti";
    });

/// The page of each golden report, as the program wrote it before its blocks were
/// written out as they are made: the same report must keep giving the same bytes.
TEST(GoldenPages, TheSameReportGivesTheSamePage) {
  ScopedEnv codepage("PIVZONA12_CODEPAGE", "UTF-8");
  TempDir dir;
  const platform::XsltParameters parameters{
      {"dal", "20150101"}, {"al", "20261231"}, {"nominativo", "Mario Rossi"}, {"asl", "ASL 12"}};
  for (const auto& [key, stylesheet] : {std::pair<std::string, std::string>{"diabete", "Diabete_to_HTML.xsl"},
                                        {"tao", "Tao_to_HTML.xsl"},
                                        {"vaccinazioni", "Vac_to_HTML.xsl"}}) {
    SCOPED_TRACE(key);
    const std::string html = dir.dir() + "ZONA12.html";
    ASSERT_EQ(tools::xml2html(std::string(PZ_SOURCE_DIR) + "/xsl/" + stylesheet,
                              std::string(PZ_FIXTURES_DIR) + "/golden_" + key + ".xml", html, parameters),
              "");
    const std::string expected = read_file(fs::path(PZ_FIXTURES_DIR) / ("golden_" + key + ".html"));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(read_file(html), expected);
  }
}

/// The block instruction with the given attributes, with xsl:apply-templates with the
/// same attributes as its fallback.
std::string block_instruction(const std::string& attributes) {
  return "<pagina:blocchi " + attributes + "><xsl:fallback><xsl:apply-templates " + attributes +
         "/></xsl:fallback></pagina:blocchi>";
}

/// A page whose body is body, with "@" standing for the block instruction with attributes,
/// block the template of each v element, and more templates besides.
std::string block_stylesheet(const std::string& body, const std::string& block,
                             const std::string& attributes = "select=\"/r/v\"",
                             const std::string& output_attributes = "method=\"html\"",
                             const std::string& templates = "") {
  const std::string instruction = block_instruction(attributes);
  std::string page_body = body;
  for (std::size_t at = page_body.find('@'); at != std::string::npos; at = page_body.find('@', at + instruction.size()))
    page_body.replace(at, 1, instruction);
  return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\""
         " xmlns:pagina=\"urn:zona12:pagina\" xmlns:z=\"urn:zona12:prova\" extension-element-prefixes=\"pagina\">"
         "<xsl:output " +
         output_attributes +
         "/><xsl:template match=\"/\">"
         "<html><head><title>Prova</title></head><body>" +
         page_body +
         "</body></html></xsl:template>"
         "<xsl:template match=\"v\">" +
         block + "</xsl:template>" + templates + "</xsl:stylesheet>";
}

struct BlockCase {
  std::string name;
  friend void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }
  std::string body;   ///< "@": the instruction
  std::string block;  ///< the template of each v
  std::size_t written_out;
  std::string attributes = "select=\"/r/v\"";  ///< of the instruction
  std::string output_attributes = "method=\"html\"";
  std::string templates = "";
  std::string shown = "";  ///< a text the page must hold
};

class BlockInstruction : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockInstruction, GivesThePageOfApplyTemplates) {
  const BlockCase& c = GetParam();
  TempDir dir;
  const std::string stylesheet = block_stylesheet(c.body, c.block, c.attributes, c.output_attributes, c.templates);
  write_file(dir.path() / "blocchi.xsl", stylesheet);
  write_file(dir.path() / "ripiego.xsl", with_unknown_instruction(stylesheet));
  write_file(dir.path() / "in.xml", "<r><v>uno</v><v>due</v><v>tre</v><v>quattro</v></r>");
  const MadePage made = make_page(dir.dir() + "blocchi.xsl", dir.dir() + "in.xml");
  const MadePage expected = make_page(dir.dir() + "ripiego.xsl", dir.dir() + "in.xml");
  EXPECT_EQ(expected.written_out, 0u);
  EXPECT_EQ(made.written_out, c.written_out);
  EXPECT_EQ(made.page, expected.page);
  EXPECT_NE(made.page.find(c.shown), std::string::npos) << made.page;
}

const std::string paragraph_block = "<p class=\"voce\"><xsl:value-of select=\".\"/></p>";
const std::string item_block = "<li><xsl:value-of select=\".\"/></li>";

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockInstruction,
    ::testing::Values(
        BlockCase{.name = "after_a_heading",
                  .body = "<div><h2>Elenco</h2>@</div>",
                  .block = paragraph_block,
                  .written_out = 3},
        BlockCase{.name = "first_in_their_parent", .body = "<div>@</div>", .block = paragraph_block, .written_out = 3},
        BlockCase{.name = "followed_by_more",
                  .body = "<ul>@<li>fine</li></ul>",
                  .block = item_block,
                  .written_out = 3,
                  .shown = "<li>fine</li>"},
        BlockCase{.name = "inline",
                  .body = "<div>@</div>",
                  .block = "<span><xsl:value-of select=\".\"/></span>",
                  .written_out = 3},
        BlockCase{.name = "inside_a_paragraph",
                  .body = "<p>@</p>",
                  .block = "<b><xsl:value-of select=\".\"/></b>",
                  .written_out = 3},
        BlockCase{.name = "not_indented",
                  .body = "<div><h2>Elenco</h2>@</div>",
                  .block = paragraph_block,
                  .written_out = 3,
                  .output_attributes = "method=\"html\" indent=\"no\""},
        // Only an HTML page is written out as it is made.
        BlockCase{.name = "xml_page",
                  .body = "<div><h2>Elenco</h2>@</div>",
                  .block = paragraph_block,
                  .written_out = 0,
                  .output_attributes = "method=\"xml\"",
                  .shown = "<p class=\"voce\">quattro</p>"},
        // A text first: the first block's text joins the text before the instruction.
        BlockCase{.name = "text_joined_to_the_text_before",
                  .body = "<div>prima @</div>",
                  .block = "<xsl:value-of select=\".\"/><br/>",
                  .written_out = 6,
                  .shown = "prima uno<br>"},
        // Each block a text and an element, so that a text stands first among them.
        BlockCase{.name = "text_first",
                  .body = "<div><hr/>@ fine</div>",
                  .block = "<xsl:value-of select=\".\"/><br/>",
                  .written_out = 7,
                  .shown = "quattro<br> fine"},
        // Inside a script a text is not escaped.
        BlockCase{.name = "unescaped_text",
                  .body = "<script>@</script>",
                  .block = "<xsl:value-of select=\"concat(., ' &lt; 2')\"/><xsl:comment>c</xsl:comment>",
                  .written_out = 7,
                  .shown = "uno < 2<!--c-->"},
        BlockCase{.name = "position_and_size",
                  .body = "<ol>@</ol>",
                  .block = "<li><xsl:value-of select=\"position()\"/> di <xsl:value-of select=\"last()\"/></li>",
                  .written_out = 3,
                  .shown = "<li>4 di 4</li>"},
        BlockCase{.name = "in_a_mode",
                  .body = "<ol>@</ol>",
                  .block = item_block,
                  .written_out = 3,
                  .attributes = "select=\"/r/v\" mode=\"elenco\"",
                  .templates = "<xsl:template match=\"v\" mode=\"elenco\"><li>elenco <xsl:value-of select=\".\"/></li>"
                               "</xsl:template>",
                  .shown = "<li>elenco quattro</li>"},
        BlockCase{.name = "in_a_mode_of_a_namespace",
                  .body = "<ol>@</ol>",
                  .block = item_block,
                  .written_out = 3,
                  .attributes = "select=\"/r/v\" mode=\"z:elenco\"",
                  .templates = "<xsl:template match=\"v\" mode=\"elenco\"><li>senza</li></xsl:template>"
                               "<xsl:template match=\"v\" mode=\"z:elenco\"><li>z <xsl:value-of select=\".\"/></li>"
                               "</xsl:template>",
                  .shown = "<li>z quattro</li>"},
        BlockCase{.name = "into_a_variable",
                  .body = "<xsl:variable name=\"x\"><div>@</div></xsl:variable><xsl:copy-of select=\"$x\"/>",
                  .block = paragraph_block,
                  .written_out = 0},
        // An attribute's value is made apart from the page, then read as text.
        BlockCase{.name = "into_an_attribute",
                  .body = "<div><xsl:attribute name=\"title\">@</xsl:attribute>fine</div>",
                  .block = "<b><xsl:value-of select=\".\"/></b>",
                  .written_out = 0,
                  .shown = "<div title=\"unoduetrequattro\">fine</div>"},
        BlockCase{.name = "each_instruction_writes_out",
                  .body = "<div>@</div><div>@</div>",
                  .block = paragraph_block,
                  .written_out = 6},
        // An instruction inside the blocks of another keeps its own blocks.
        BlockCase{.name = "inside_the_blocks_of_another",
                  .body = "<div>@</div>",
                  .block = "<div>" + block_instruction("select=\"/r/v\" mode=\"dentro\"") + "</div>",
                  .written_out = 3,
                  .templates = "<xsl:template match=\"v\" mode=\"dentro\"><i><xsl:value-of select=\".\"/></i>"
                               "</xsl:template>"},
        BlockCase{.name = "nothing_selected",
                  .body = "<div>@</div>",
                  .block = paragraph_block,
                  .written_out = 0,
                  .attributes = "select=\"/r/w\""},
        BlockCase{.name = "one_selected",
                  .body = "<div>@</div>",
                  .block = paragraph_block,
                  .written_out = 0,
                  .attributes = "select=\"/r/v[1]\""},
        BlockCase{.name = "two_selected",
                  .body = "<div>@</div>",
                  .block = paragraph_block,
                  .written_out = 1,
                  .attributes = "select=\"/r/v[position() &lt; 3]\""}),
    [](const auto& info) { return info.param.name; });

TEST(BlockInstruction, PageIsTheSameWhereverItsPiecesAreCut) {
  // The page reaches its writer in pieces of about 4000 bytes, cut between the
  // serializer's small writes: with one more short element before the blocks each time,
  // some cut falls inside the placeholder's bytes.
  TempDir dir;
  write_file(dir.path() / "in.xml", "<r><v>uno</v><v>due</v><v>tre</v></r>");
  for (int elements = 465; elements < 495; ++elements) {
    SCOPED_TRACE(elements);
    std::string before;
    for (int i = 0; i < elements; ++i) before += "<b>x</b>";
    const std::string stylesheet = block_stylesheet("<div>" + before + "@</div>", paragraph_block);
    write_file(dir.path() / "blocchi.xsl", stylesheet);
    write_file(dir.path() / "ripiego.xsl", with_unknown_instruction(stylesheet));
    const MadePage made = make_page(dir.dir() + "blocchi.xsl", dir.dir() + "in.xml");
    EXPECT_EQ(made.written_out, 2u);
    EXPECT_EQ(made.page, make_page(dir.dir() + "ripiego.xsl", dir.dir() + "in.xml").page);
  }
}

TEST(BlockInstruction, BadSelectOrModeIsAFailureWithTheReason) {
  struct Case {
    std::string instruction;
    std::string reason;
  };
  TempDir dir;
  write_file(dir.path() / "in.xml", "<r><v>uno</v></r>");
  for (const Case& c : {Case{"<pagina:blocchi/>", "manca l'attributo select"},
                        Case{"<pagina:blocchi select=\"1 + 1\"/>", "non dà un insieme di nodi"},
                        Case{"<pagina:blocchi select=\"/r/\"/>", "espressione non valida"},
                        Case{"<pagina:blocchi select=\"/r/v\" mode=\"x:elenco\"/>", "modo non valido: x:elenco"},
                        Case{"<pagina:blocchi select=\"/r/v\" mode=\"1elenco\"/>", "modo non valido: 1elenco"}}) {
    SCOPED_TRACE(c.instruction);
    write_file(dir.path() / "page.xsl", block_stylesheet("<div>" + c.instruction + "</div>", paragraph_block));
    platform::XsltProcessor processor;
    ASSERT_TRUE(processor.load_stylesheet(dir.dir() + "page.xsl"));
    ASSERT_TRUE(processor.load_input(dir.dir() + "in.xml"));
    const std::string reason = transform_failure(processor);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << "the page must not be made: " << reason;
  }
}

// ---------------------------------------------------------------------------------
// The report schemas.

std::string schema(const std::string& name) { return std::string(PZ_SOURCE_DIR) + "/schema/" + name + ".xsd"; }
std::string sample(const std::string& name) { return std::string(PZ_FIXTURES_DIR) + "/sample_" + name + ".xml"; }

TEST(ReportSchemas, SamplesAreValid) {
  for (const char* name : {"diabete", "tao", "vaccinazioni"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(platform::validate_xml_file(sample(name), schema(name)), "");
  }
}

struct BrokenCase {
  std::string name;
  friend void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.name; }
  std::string report;  ///< sample and schema
  std::string from;    ///< first occurrence replaced
  std::string to;
};

class BrokenReports : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenReports, AreRejectedWithTheLine) {
  const BrokenCase& c = GetParam();
  std::string xml = read_file(sample(c.report));
  const std::size_t at = xml.find(c.from);
  ASSERT_NE(at, std::string::npos) << c.from;
  xml.replace(at, c.from.size(), c.to);
  TempDir dir;
  write_file(dir.path() / "broken.xml", xml);
  const std::string errors = platform::validate_xml_file(dir.dir() + "broken.xml", schema(c.report));
  EXPECT_NE(errors.find("line "), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenReports,
    ::testing::Values(
        BrokenCase{"production_time_of_13_digits", "tao", "20240316091500", "2024031609150"},
        BrokenCase{"production_time_with_month_13", "vaccinazioni", "20240317180245", "20241317180245"},
        BrokenCase{"regional_code_not_six", "diabete", "<codiceRegionale>001234", "<codiceRegionale>1234"},
        BrokenCase{"other_namespace", "tao", "asl/tao\"", "asl/diabete\""},
        BrokenCase{"production_time_missing", "tao", "<dataOraProduzione>20240316091500</dataOraProduzione>", ""},
        BrokenCase{"name_before_surname", "vaccinazioni", "<cognome>Bianchi</cognome>\n      <nome>Anna</nome>",
                   "<nome>Anna</nome>\n      <cognome>Bianchi</cognome>"},
        BrokenCase{"enrolment_outside_diabetes", "tao", "<monitoraggio/>",
                   "<presaInCarico><data>20240101</data><codice>X</codice></presaInCarico><monitoraggio/>"},
        BrokenCase{"diabetes_without_enrolment", "diabete",
                   "<presaInCarico>\n        <data>20240201</data>\n        <codice></codice>\n      </presaInCarico>",
                   ""},
        BrokenCase{"enrolment_code_over_ten", "diabete", "DM2-000417", "DM2-0004170"},
        BrokenCase{"sections_out_of_order", "diabete", "<controlloClinico>",
                   "<bmi><data>20240101</data><valore>24</valore></bmi><controlloClinico>"},
        BrokenCase{"section_date_not_yyyymmdd", "tao", "<data>20240305</data>", "<data>2024-03-05</data>"},
        BrokenCase{"foot_exam_outcome_lower_case", "diabete", "<esito>Normale</esito>", "<esito>normale</esito>"},
        BrokenCase{"smoking_without_accent", "diabete", "<booleano>Sì</booleano>", "<booleano>Si</booleano>"},
        BrokenCase{"monitoring_missing", "vaccinazioni",
                   "<monitoraggio>\n        <antiInfluenzale>\n          <data>20231105</data>\n"
                   "        </antiInfluenzale>\n      </monitoraggio>",
                   ""},
        BrokenCase{"vaccination_without_date", "vaccinazioni", "<data>20231020</data>", ""}),
    [](const auto& info) { return info.param.name; });

TEST(ReportSchemas, UnreadableSchemaOrFileIsAnError) {
  EXPECT_NE(platform::validate_xml_file(sample("tao"), schema("nessuno")), "");
  EXPECT_NE(platform::validate_xml_file(sample("nessuno"), schema("tao")), "");
}

}  // namespace

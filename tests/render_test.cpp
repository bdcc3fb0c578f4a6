// Rendering a report into the HTML page: the processor, the file checks and their
// messages, the rewrite of the charset line, the three report stylesheets and the
// report schemas.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.hpp"
#include "platform/host.hpp"
#include "platform/xmlschema.hpp"
#include "platform/xslt.hpp"
#include "render/render.hpp"
#include "test_support.hpp"

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
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
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
         "<xsl:output method=\"html\" " + output_attributes + "/><xsl:template match=\"/\">"
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
    ::testing::Values(
        MessageCase{"both_missing_names_the_stylesheet", std::nullopt, std::nullopt, "file xslt non trovato",
                    "Errore nella conversione xslt"},
        MessageCase{"stylesheet_missing", std::nullopt, good_input, "file xslt non trovato",
                    "Errore nella conversione xslt"},
        MessageCase{"input_missing", html_stylesheet(), std::nullopt, "file xml di input non trovato",
                    "Errore nella conversione xslt"},
        MessageCase{"input_missing_is_checked_before_loading", not_xml, std::nullopt,
                    "file xml di input non trovato", "Errore nella conversione xslt"},
        MessageCase{"stylesheet_malformed", not_xml, good_input, "file xslt mal formato",
                    "Errore nella conversione xslt"},
        MessageCase{"stylesheet_malformed_before_input_malformed", not_xml, "<referto>", "file xslt mal formato",
                    "Errore nella conversione xslt"},
        MessageCase{"input_malformed", html_stylesheet(), "<referto>testo</Referto>",
                    "file xml di input mal formato", "Errore nella conversione xslt"},
        MessageCase{"empty_input_file", html_stylesheet(), "", "file xml di input mal formato",
                    "Errore nella conversione xslt"},
        MessageCase{"well_formed_but_not_a_stylesheet", "<foglio/>", good_input,
                    "Eccezione nella conversione xslt", "Errore nella conversione xslt"},
        MessageCase{"stylesheet_stops_the_transformation",
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
        RewriteCase{"lower_case_variant_stays",
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
        RewriteCase{"empty_page", "", ""}),
    [](const auto& info) { return info.param.name; });

TEST(RenderRewrite, PageNamedLikeItsTemporaryCopyIsNotEmptied) {
  // "page_tmp" without an extension would be rewritten into itself.
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<r>testo</r>");
  const std::string html = dir.dir() + "page_tmp";
  EXPECT_EQ(tools::xml2html(dir.dir() + "page.xsl", dir.dir() + "in.xml", html), "Eccezione nella conversione xslt");
  EXPECT_NE(read_file(html).find("testo"), std::string::npos);
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
  try {
    processor.transform();
    FAIL() << "an invalid expression must not transform";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("1 +"), std::string::npos) << error.what();
  }
  EXPECT_FALSE(processor.load_input(dir.dir() + "missing.xml"));
}

TEST(XsltProcessor, InputEntitiesDoNotReadOtherFiles) {
  TempDir dir;
  write_file(dir.path() / "secret.txt", "segreto");
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml",
             "<!DOCTYPE r [<!ENTITY s SYSTEM \"" + dir.dir() + "secret.txt\">]><r>&s;</r>");
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
                      CharsetCase{"cp1252", "CP1252", "windows-1252", "Niccol\xF2 D'Al\xF2 (?\xF3" "d?)"}),
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
  platform::set_current_host(nullptr);
  EXPECT_EQ(tools::message_box("testo", "titolo", 0), 0) << "the headless host shows nothing";
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
                                  std::string("001234"), std::string("RSSMRA60A01H501U"),
                                  std::string("Niccolò"), std::string("D'Alò"), std::string("page-break-inside: avoid")})
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
  for (const Case& c : {Case{"Controllo clinico", "3 su 4" "75%"}, Case{"Esame dei piedi", "2 su 4" "50%"},
                        Case{"Microalbuminuria", "1 su 4" "25%"}, Case{"Abitudine al fumo", "2 su 4" "50%"}}) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(row_text(page, "<th>" + c.label + "</th>"), c.label + c.shown);
  }
  EXPECT_NE(page.find("style=\"width: 75%\""), std::string::npos);
  EXPECT_NE(page.find("0 indicatori su 14"), std::string::npos);
  EXPECT_NE(page.find("14 indicatori su 14"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Programmes, ReportStylesheets,
    ::testing::Values(
        StylesheetCase{"diabete", "Diabete_to_HTML.xsl", "sample_diabete.xml",
                       {"Gestione integrata del diabete", "15/03/2024 14:35", "Presa in carico dal", "10/05/2023",
                        "DM2-001288", "145/85 mmHg", "150/– mmHg", "Patologico", "fumatore", "7.2",
                        "Maria Grazia", "nessuna rilevazione"}},
        StylesheetCase{"tao", "Tao_to_HTML.xsl", "sample_tao.xml",
                       {"Terapia anticoagulante orale", "16/03/2024 09:15", "<span class=\"cifra\">2.6</span>",
                        "05/03/2024", "09/01/2024", "Nessuna consulenza nel periodo", "Marino"}},
        StylesheetCase{"vaccinazioni", "Vac_to_HTML.xsl", "sample_vaccinazioni.xml",
                       {"Vaccinazione antinfluenzale", "17/03/2024 18:02", "18/10/2023", "12/01/2023",
                        "05/11/2023", "Verdi"}}),
    [](const auto& info) { return info.param.name; });

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
                   "<presaInCarico>\n        <data>20240201</data>\n        <codice></codice>\n      </presaInCarico>", ""},
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

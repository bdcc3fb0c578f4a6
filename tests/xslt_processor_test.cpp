// The XSLT processor: the page it hands back, its load and transformation failures, the
// parameters, the input's entities, and its block instruction, whose page must be byte
// for byte the one xsl:apply-templates gives.
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

#include "page_test_support.hpp"
#include "test_support.hpp"
#include "xml/xslt.hpp"

namespace fs = std::filesystem;
using test_support::html_stylesheet;
using test_support::MadePage;
using test_support::make_page;
using test_support::TempDir;
using test_support::utf16_meta;
using test_support::with_unknown_instruction;
using test_support::write_file;

namespace {

// ---------------------------------------------------------------------------------
// The processor's page and its failures.

TEST(XsltProcessor, HtmlPageCarriesTheUtf16DeclarationOnItsOwnLine) {
  TempDir dir;
  // The encoding the stylesheet asks for does not matter: the page comes back as text.
  write_file(dir.path() / "page.xsl", html_stylesheet("encoding=\"ISO-8859-1\""));
  write_file(dir.path() / "in.xml", "<r>Niccolò D'Alò</r>");
  platform::XsltProcessor processor;
  ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
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
  ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
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
  EXPECT_THROW(processor.transform(), platform::Failure) << "nothing loaded";
  ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "bad.xsl"));
  ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
  const std::string reason = transform_failure(processor);
  EXPECT_NE(reason.find("1 +"), std::string::npos) << "an invalid expression must not transform: " << reason;
}

/// The message a load fails with, or "" when it loads.
std::string load_failure(const std::function<void()>& load) {
  try {
    load();
  } catch (const platform::Failure& failure) {
    return failure.what();
  }
  return "";
}

// A document that cannot be loaded fails with the message the page step shows, and the
// document loaded before it is gone, so that a transformation cannot use a stale one.
TEST(XsltProcessor, LoadFailuresCarryTheMessageShownAndDropTheEarlierDocument) {
  TempDir dir;
  write_file(dir.path() / "page.xsl", html_stylesheet());
  write_file(dir.path() / "in.xml", "<r/>");
  write_file(dir.path() / "broken.xml", "<r>");
  struct Case {
    const char* file;
    bool stylesheet;
    const char* message;
  };
  for (const Case& c :
       {Case{"missing.xsl", true, "file xslt mal formato"}, Case{"broken.xml", true, "file xslt mal formato"},
        Case{"missing.xml", false, "file xml di input mal formato"},
        Case{"broken.xml", false, "file xml di input mal formato"}}) {
    SCOPED_TRACE(c.file);
    platform::XsltProcessor processor;
    ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "page.xsl"));
    ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
    const std::string path = dir.dir() + c.file;
    EXPECT_EQ(load_failure([&] {
                if (c.stylesheet)
                  processor.load_stylesheet(path);
                else
                  processor.load_input(path);
              }),
              c.message);
    EXPECT_THROW(processor.transform(), platform::Failure);
  }
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
  ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
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
  ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "page.xsl"));
  ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
  EXPECT_EQ(processor.transform().find("segreto"), std::string::npos);
}

// ---------------------------------------------------------------------------------
// The page's blocks written out as they are made: the same page as the instruction's
// fallback (xsl:apply-templates) gives.

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
    ASSERT_NO_THROW(processor.load_stylesheet(dir.dir() + "page.xsl"));
    ASSERT_NO_THROW(processor.load_input(dir.dir() + "in.xml"));
    const std::string reason = transform_failure(processor);
    EXPECT_NE(reason.find(c.reason), std::string::npos) << "the page must not be made: " << reason;
  }
}

}  // namespace

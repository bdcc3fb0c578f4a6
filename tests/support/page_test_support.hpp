#pragma once
// What the tests of the page step, the XSLT processor and the report stylesheets share:
// the processor's charset lines, a small HTML stylesheet, and the page a stylesheet file
// makes of an input file.
#include <cstddef>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "xml/xslt.hpp"

namespace test_support {

inline const std::string utf16_meta = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">";
inline const std::string utf8_meta = "<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">";

/// An HTML stylesheet that shows the text of the input's root element in a page.
inline std::string html_stylesheet(const std::string& output_attributes = "") {
  return "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
         "<xsl:output method=\"html\" " +
         output_attributes +
         "/><xsl:template match=\"/\">"
         "<html><head><title>Prova</title></head><body><p><xsl:value-of select=\"/*\"/></p></body></html>"
         "</xsl:template></xsl:stylesheet>";
}

/// The page a stylesheet file makes of an input file, and how many result nodes the
/// transformation wrote out on the way.
struct MadePage {
  std::string page;
  std::size_t written_out = 0;
};

inline MadePage make_page(const std::string& xsl, const std::string& xml,
                          const platform::XsltParameters& parameters = {}) {
  platform::XsltProcessor processor;
  MadePage made;
  EXPECT_NO_THROW(processor.load_stylesheet(xsl)) << xsl;
  EXPECT_NO_THROW(processor.load_input(xml)) << xml;
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
inline std::string with_unknown_instruction(std::string xsl) {
  const std::string known = "urn:zona12:pagina", unknown = "urn:zona12:pagina-altrove";
  for (std::size_t at = xsl.find(known); at != std::string::npos; at = xsl.find(known, at + unknown.size()))
    xsl.replace(at, known.size(), unknown);
  return xsl;
}

}  // namespace test_support

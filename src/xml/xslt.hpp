#pragma once
// The XSLT processor behind the report rendering: a stylesheet document and an input
// document, each loaded from a file, and the transformation of one by the other.
//
// Besides XSLT 1.0 the processor knows one instruction of its own, for the long lists of
// a page: <pagina:blocchi select="nodes" mode="mode"/> in the namespace
// "urn:zona12:pagina" (declared in extension-element-prefixes) applies the templates of
// the mode (optional) to the selected nodes, as xsl:apply-templates with the same select
// and mode does, and in an HTML page writes each block of result out as soon as the next
// one is made, so that the blocks are never held together. The page is byte for byte the
// one apply-templates gives. Only an instruction that builds the page itself writes out:
// inside the blocks of another, or building a variable's or an attribute's value, it
// keeps its blocks. Another processor runs its xsl:fallback.
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/failure.hpp"

namespace platform {

/// Top-level stylesheet parameters by name, each given as a text value (UTF-8), never
/// evaluated as an expression.
using XsltParameters = std::vector<std::pair<std::string, std::string>>;

/// Receives a transformation's output piece by piece; false stops the writing.
using PageWriter = std::function<bool(std::string_view)>;

class XsltProcessor {
 public:
  XsltProcessor();
  ~XsltProcessor();
  XsltProcessor(const XsltProcessor&) = delete;
  XsltProcessor& operator=(const XsltProcessor&) = delete;

  /// Loads the stylesheet file (path in UTF-8). Throws Failure("file xslt mal formato")
  /// when it cannot be read or is not well-formed XML; the stylesheet loaded before is
  /// then gone. Whether it is a usable stylesheet shows only in transform().
  void load_stylesheet(const std::string& path);
  /// Loads the input file (path in UTF-8). Throws Failure("file xml di input mal
  /// formato") when it cannot be read or is not well-formed XML; the input loaded before
  /// is then gone.
  void load_input(const std::string& path);

  /// Applies the stylesheet to the input, with the given parameters set, and returns the
  /// page as UTF-8 text. An HTML
  /// page whose head exists carries, right after <head> and on a line of its own,
  /// <META http-equiv="Content-Type" content="text/html; charset=UTF-16">, as a
  /// processor that hands back UTF-16 text writes it. Throws Failure with
  /// the processor's messages when the stylesheet cannot be compiled or the
  /// transformation fails, or when either document was not loaded.
  std::string transform(const XsltParameters& parameters = {}) const;

  /// As transform(), but the page is handed to write in pieces (UTF-8, cut anywhere) as it
  /// is serialised, never held whole, and the input document is freed once transformed,
  /// before the page is written: load_input() again before another transformation. False
  /// when write refused a piece (the page is then incomplete); throws as transform().
  bool transform_to(const PageWriter& write, const XsltParameters& parameters = {});

  /// How many result nodes the last transformation wrote out while it ran (see the block
  /// instruction above); 0 when it wrote none out.
  std::size_t nodes_written_out() const;

 private:
  struct Impl;
  struct Applied;
  /// The compiled stylesheet and the result document of one transformation.
  Applied apply(const XsltParameters& parameters) const;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform

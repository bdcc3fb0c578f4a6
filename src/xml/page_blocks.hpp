#pragma once
// The page's block instruction for the XSLT processor (xslt_libxslt.cpp),
// <pagina:blocchi select="nodes" mode="mode"/> in the namespace "urn:zona12:pagina".
//
// The block instruction. It applies the templates of its mode to the nodes that its
// select attribute selects, as xsl:apply-templates does; but in an HTML page, each block
// of result nodes is serialised and freed as soon as the next block exists, so that the
// blocks of a long list are never held together. Serialised with its real parent and its
// real next sibling still in place, a node gives exactly the bytes that serialising the
// whole page would give for it. In the result a placeholder
// of the same kind (text or not) takes the place of the first block and the last block
// stays, so that the layout of the nodes around them, which depends on whether their
// neighbours are text and on whether the parent has one child or more, does not change;
// serialize() then writes the held bytes where the placeholder's own bytes come. Each
// instruction holds its own region of bytes with a placeholder of its own.
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include <libxslt/xsltInternals.h>

#include "xml/xslt.hpp"

namespace platform::page_blocks {

/// What one instruction wrote out: the bytes of the placeholder that stands for its
/// blocks in the result, and the blocks' bytes.
struct SpillRegion {
  std::string marker;
  std::vector<std::string> pieces;
};

/// The blocks written out during one transformation, region by region in the page's
/// order: the instructions run in the order their results take in the page.
struct BlockSpill {
  std::deque<SpillRegion> regions;  ///< a region stays where it is while it is written
  bool writing = false;             ///< an instruction is writing out: one inside its blocks keeps its own
  std::size_t nodes = 0;            ///< result nodes written out
};

/// How the HTML serializer lays the page out: the stylesheet's indent, on by default. The
/// blocks are written out with the layout the rest of the page is serialised with.
int html_format(xsltStylesheet* style);

/// Makes the instruction known to one transformation, whose blocks go to spill (kept as
/// the context's user data while it runs). False when memory ran out.
bool register_instruction(xsltTransformContext* context, BlockSpill& spill);

/// Passes the page on to write, with each region's blocks in place of its placeholder's
/// bytes. The bytes that might begin the next placeholder's are kept back until the next
/// piece shows whether they do.
class BlockSplicer {
 public:
  BlockSplicer(const BlockSpill& spill, const PageWriter& write) : spill_(spill), write_(write) {}

  bool operator()(std::string_view piece);

  /// Passes on what was kept back; false when a placeholder never came.
  bool finish();

 private:
  const BlockSpill& spill_;
  const PageWriter& write_;
  std::string held_;
  std::size_t next_ = 0;  ///< the region whose placeholder comes next
};

}  // namespace platform::page_blocks

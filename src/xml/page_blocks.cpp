// The page's block instruction (page_blocks.hpp) on libxslt: the instruction itself, the
// writing out of its blocks, and the splicing of their bytes back into the page.
#include "xml/page_blocks.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>

#include <libxml/HTMLtree.h>
#include <libxml/xpath.h>
#include <libxslt/extensions.h>
#include <libxslt/imports.h>
#include <libxslt/transform.h>
#include <libxslt/xsltutils.h>

namespace platform::page_blocks {

int html_format(xsltStylesheet* style) {
  int indent = -1;
  XSLT_GET_IMPORT_INT(indent, style, indent);
  return indent == -1 ? 1 : indent;
}

namespace {

const char* const block_namespace = "urn:zona12:pagina";
const char* const block_instruction = "blocchi";

struct XmlFree {
  void operator()(void* memory) const { xmlFree(memory); }
};

/// Output callback of a region: keeps the bytes in pieces of about 64 KiB, so that the
/// held page never needs one large block of memory nor a copy when it grows.
int append_to_region(void* context, const char* bytes, int length) {
  try {
    auto& region = *static_cast<SpillRegion*>(context);
    constexpr std::size_t piece_size = 64 * 1024;
    if (region.pieces.empty() || region.pieces.back().size() + static_cast<std::size_t>(length) > piece_size) {
      region.pieces.emplace_back();
      region.pieces.back().reserve(std::max(piece_size, static_cast<std::size_t>(length)));
    }
    region.pieces.back().append(bytes, static_cast<std::size_t>(length));
    return length;
  } catch (...) {
    return -1;
  }
}

/// A name that no page holds by chance, for the placeholder.
std::string placeholder_name() {
  std::random_device random;
  std::string name = "pz-blocchi-";
  static constexpr char digits[] = "0123456789abcdef";
  for (int i = 0; i < 4; ++i) {
    std::uint32_t value = random();
    for (int j = 0; j < 8; ++j, value >>= 4) name += digits[value & 15];
  }
  return name;
}

/// Puts a placeholder of the kind of node in its place, unlinked; the marker receives
/// the bytes that the placeholder is serialised to. Text nodes are not merged here, as
/// adding a text beside a text would.
xmlNode* replace_by_placeholder(xmlNode* node, std::string& marker) {
  const std::string name = placeholder_name();
  const bool text_kind = node->type == XML_TEXT_NODE || node->type == XML_ENTITY_REF_NODE;
  xmlNode* placeholder = text_kind ? xmlNewDocText(node->doc, BAD_CAST name.c_str())
                                   : xmlNewDocNode(node->doc, nullptr, BAD_CAST name.c_str(), nullptr);
  if (placeholder == nullptr) return nullptr;
  xmlReplaceNode(node, placeholder);
  // An element the serializer does not know is written without any line break of its own.
  marker = text_kind ? name : "<" + name + "></" + name + ">";
  return placeholder;
}

/// Writes out the blocks made during one instruction: every node after the anchor that
/// already has its next sibling. The anchor is the node before the first block (nullptr
/// when the blocks are the parent's first children) and becomes the placeholder.
class BlockWriter {
 public:
  /// Opens the instruction's region of spill.
  BlockWriter(xsltTransformContext* context, xmlNode* parent, BlockSpill& spill)
      : context_(context),
        parent_(parent),
        anchor_(parent->last),
        spill_(spill),
        region_(spill.regions.emplace_back()),
        format_(html_format(context->style)) {
    spill_.writing = true;
  }
  ~BlockWriter() {
    if (buffer_) xmlOutputBufferClose(buffer_);
    spill_.writing = false;
  }
  BlockWriter(const BlockWriter&) = delete;
  BlockWriter& operator=(const BlockWriter&) = delete;

  /// Writes out what can be; false when memory ran out.
  bool write_ready() {
    xmlNode* node = anchor_ ? anchor_->next : parent_->children;
    if (node == nullptr || node == parent_->last) return true;
    if (buffer_ == nullptr) {
      buffer_ = xmlOutputBufferCreateIO(&append_to_region, nullptr, &region_, nullptr);
      if (buffer_ == nullptr) return false;
    }
    while (node != parent_->last) {
      xmlNode* next = node->next;
      htmlNodeDumpFormatOutput(buffer_, context_->output, node, nullptr, format_);
      if (region_.marker.empty()) {
        anchor_ = replace_by_placeholder(node, region_.marker);
        if (anchor_ == nullptr) return false;
      } else {
        xmlUnlinkNode(node);
      }
      xmlFreeNode(node);
      ++spill_.nodes;
      node = next;
    }
    // The last text the transformation appended to may have gone with the blocks.
    context_->lasttext = nullptr;
    context_->lasttsize = 0;
    context_->lasttuse = 0;
    return buffer_->error == 0;
  }

  /// Ends the writing; false when memory ran out at any point. A region with nothing
  /// written out goes.
  bool finish() {
    bool written = true;
    if (buffer_ != nullptr) {
      written = buffer_->error == 0;
      xmlOutputBuffer* buffer = buffer_;
      buffer_ = nullptr;
      if (xmlOutputBufferClose(buffer) < 0) written = false;
    }
    if (region_.marker.empty()) spill_.regions.pop_back();
    return written;
  }

 private:
  xsltTransformContext* context_;
  xmlNode* parent_;
  xmlNode* anchor_;
  BlockSpill& spill_;
  SpillRegion& region_;
  int format_;
  xmlOutputBuffer* buffer_ = nullptr;
};

/// The mode named by the instruction's mode attribute, as libxslt keeps a template's
/// mode: the local name and the namespace, each in the stylesheet's dictionary. False
/// after reporting an error.
bool instruction_mode(xsltTransformContext* context, xmlNode* inst, const xmlChar*& mode, const xmlChar*& mode_uri) {
  mode = nullptr;
  mode_uri = nullptr;
  std::unique_ptr<xmlChar, XmlFree> attribute(xmlGetNsProp(inst, BAD_CAST "mode", nullptr));
  if (!attribute) return true;
  xsltStylesheet* style = context->style;
  const xmlChar* name = nullptr;
  const xmlChar* uri = nullptr;
  if (xmlValidateQName(attribute.get(), 0) == 0) {
    name = xmlDictLookup(style->dict, attribute.get(), -1);
    uri = xsltGetQNameURI2(style, inst, &name);
  }
  if (name == nullptr) {
    xsltTransformError(context, nullptr, inst, "blocchi: modo non valido: %s\n", attribute.get());
    return false;
  }
  mode = name;
  if (uri != nullptr) mode_uri = xmlDictLookup(style->dict, uri, -1);
  return true;
}

/// The nodes that the instruction's select attribute selects, evaluated as libxslt
/// evaluates an instruction's expression: with the instruction's namespaces in scope and
/// the current node as the context; nullptr after reporting an error.
xmlXPathObject* select_nodes(xsltTransformContext* context, xmlNode* node, xmlNode* inst) {
  std::unique_ptr<xmlChar, XmlFree> select(xmlGetNsProp(inst, BAD_CAST "select", nullptr));
  if (!select) {
    xsltTransformError(context, nullptr, inst, "blocchi: manca l'attributo select\n");
    return nullptr;
  }
  std::unique_ptr<xmlXPathCompExpr, decltype(&xmlXPathFreeCompExpr)> expression(
      xsltXPathCompile(context->style, select.get()), xmlXPathFreeCompExpr);
  if (!expression) {
    xsltTransformError(context, nullptr, inst, "blocchi: espressione non valida: %s\n", select.get());
    return nullptr;
  }
  std::unique_ptr<xmlNs*, XmlFree> namespaces(xmlGetNsList(inst->doc, inst));
  int count = 0;
  while (namespaces && namespaces.get()[count] != nullptr) ++count;

  xmlXPathContext* xpath = context->xpathCtxt;
  xmlNode* old_node = xpath->node;
  xmlNs** old_namespaces = xpath->namespaces;
  const int old_count = xpath->nsNr;
  const int old_position = xpath->proximityPosition;
  const int old_size = xpath->contextSize;
  xpath->node = node;
  xpath->namespaces = namespaces.get();
  xpath->nsNr = count;
  xmlXPathObject* result = xmlXPathCompiledEval(expression.get(), xpath);
  xpath->node = old_node;
  xpath->namespaces = old_namespaces;
  xpath->nsNr = old_count;
  xpath->proximityPosition = old_position;
  xpath->contextSize = old_size;
  if (result != nullptr && result->type != XPATH_NODESET) {
    xmlXPathFreeObject(result);
    result = nullptr;
  }
  if (result == nullptr) xsltTransformError(context, nullptr, inst, "blocchi: select non dà un insieme di nodi\n");
  return result;
}

/// Whether node hangs in the tree of doc (a node made for doc but not put in it does not).
bool in_tree_of(const xmlNode* node, const xmlDoc* doc) {
  for (; node != nullptr; node = node->parent)
    if (node == reinterpret_cast<const xmlNode*>(doc)) return true;
  return false;
}

/// The state of the transformation that applying templates changes, restored when the
/// object goes.
class ApplyState {
 public:
  explicit ApplyState(xsltTransformContext* context)
      : context_(context),
        node_(context->node),
        mode_(context->mode),
        mode_uri_(context->modeURI),
        document_(context->document),
        list_(context->nodeList),
        position_(context->xpathCtxt->proximityPosition),
        size_(context->xpathCtxt->contextSize),
        doc_(context->xpathCtxt->doc) {}
  ~ApplyState() {
    context_->node = node_;
    context_->mode = mode_;
    context_->modeURI = mode_uri_;
    context_->document = document_;
    context_->nodeList = list_;
    context_->xpathCtxt->proximityPosition = position_;
    context_->xpathCtxt->contextSize = size_;
    context_->xpathCtxt->doc = doc_;
  }
  ApplyState(const ApplyState&) = delete;
  ApplyState& operator=(const ApplyState&) = delete;

 private:
  xsltTransformContext* context_;
  xmlNode* node_;
  const xmlChar* mode_;
  const xmlChar* mode_uri_;
  xsltDocument* document_;
  xmlNodeSet* list_;
  int position_;
  int size_;
  xmlDoc* doc_;
};

/// The block instruction (see above), apart from running out of memory: false when the
/// blocks could not be written out.
bool apply_in_blocks_checked(xsltTransformContext* context, xmlNode* node, xmlNode* inst) {
  const xmlChar* mode = nullptr;
  const xmlChar* mode_uri = nullptr;
  if (!instruction_mode(context, inst, mode, mode_uri)) {
    context->state = XSLT_STATE_STOPPED;
    return true;
  }
  std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> selected(select_nodes(context, node, inst),
                                                                          xmlXPathFreeObject);
  if (!selected) {
    context->state = XSLT_STATE_STOPPED;
    return true;
  }
  xmlNodeSet* list = selected->nodesetval;
  if (list == nullptr || list->nodeNr == 0) return true;

  // Blocks are written out only into an element of the page itself, not into a
  // variable's tree, an attribute's value or the like (made apart and read as text), nor
  // inside the blocks of an instruction that is writing out; elsewhere they stay.
  auto* spill = static_cast<BlockSpill*>(context->_private);
  xmlNode* parent = context->insert;
  const bool write_out = spill != nullptr && !spill->writing && parent != nullptr && parent->type == XML_ELEMENT_NODE &&
                         context->output != nullptr && context->output->type == XML_HTML_DOCUMENT_NODE &&
                         in_tree_of(parent, context->output);
  std::unique_ptr<BlockWriter> writer(write_out ? new BlockWriter(context, parent, *spill) : nullptr);

  // As xsl:apply-templates: each node current in turn, with its position among the selected.
  ApplyState state(context);
  context->mode = mode;
  context->modeURI = mode_uri;
  context->nodeList = list;
  context->xpathCtxt->contextSize = list->nodeNr;
  for (int i = 0; i < list->nodeNr && context->state != XSLT_STATE_STOPPED; ++i) {
    xmlNode* current = list->nodeTab[i];
    context->node = current;
    if (current->type != XML_NAMESPACE_DECL && current->doc != nullptr) context->xpathCtxt->doc = current->doc;
    context->xpathCtxt->proximityPosition = i + 1;
    xsltProcessOneNode(context, current, nullptr);
    if (writer && !writer->write_ready()) return false;
  }
  return !writer || writer->finish();
}

/// The block instruction (see above): called by libxslt with the current node and the
/// instruction; the transformation's BlockSpill is the context's user data. Nothing is
/// thrown back through libxslt: a failure stops the transformation with its reason.
void apply_in_blocks(xsltTransformContext* context, xmlNode* node, xmlNode* inst, xsltElemPreComp*) {
  if (context == nullptr || node == nullptr || inst == nullptr) return;
  bool written = false;
  try {
    written = apply_in_blocks_checked(context, node, inst);
  } catch (...) {
  }
  if (!written) {
    xsltTransformError(context, nullptr, inst, "blocchi: memoria insufficiente\n");
    context->state = XSLT_STATE_STOPPED;
  }
}

}  // namespace

bool register_instruction(xsltTransformContext* context, BlockSpill& spill) {
  context->_private = &spill;
  return xsltRegisterExtElement(context, BAD_CAST block_instruction, BAD_CAST block_namespace, &apply_in_blocks) == 0;
}

bool BlockSplicer::operator()(std::string_view piece) {
  if (next_ == spill_.regions.size()) return write_(piece);
  held_.append(piece);
  while (next_ < spill_.regions.size()) {
    const SpillRegion& region = spill_.regions[next_];
    const std::size_t at = held_.find(region.marker);
    if (at == std::string::npos) break;
    if (!write_(std::string_view(held_).substr(0, at))) return false;
    for (const std::string& block : region.pieces)
      if (!write_(block)) return false;
    held_.erase(0, at + region.marker.size());
    ++next_;
  }
  const std::size_t keep = next_ < spill_.regions.size() ? spill_.regions[next_].marker.size() - 1 : 0;
  if (held_.size() <= keep) return true;
  const bool written = write_(std::string_view(held_).substr(0, held_.size() - keep));
  held_.erase(0, held_.size() - keep);
  return written;
}

bool BlockSplicer::finish() {
  const bool written = held_.empty() || write_(held_);
  held_.clear();
  return written && next_ == spill_.regions.size();
}

}  // namespace platform::page_blocks

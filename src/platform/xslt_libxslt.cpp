// The XSLT processor on libxslt. Errors of libxml2 and libxslt are collected per call
// instead of going to standard error, and the transformation may read files (the
// stylesheet's own modules, document()) but never write files or use the network.
#include "platform/xslt.hpp"

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <libxml/HTMLtree.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxslt/extensions.h>
#include <libxslt/imports.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include "platform/paths.hpp"
#include "platform/xml_errors.hpp"

namespace platform {

namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct StyleFree {
  void operator()(xsltStylesheet* style) const { xsltFreeStylesheet(style); }
};
struct ContextFree {
  void operator()(xsltTransformContext* context) const { xsltFreeTransformContext(context); }
};
struct PrefsFree {
  void operator()(xsltSecurityPrefs* prefs) const { xsltFreeSecurityPrefs(prefs); }
};
struct XmlFree {
  void operator()(void* memory) const { xmlFree(memory); }
};
struct OutputFree {
  void operator()(xmlOutputBuffer* buffer) const { xmlOutputBufferClose(buffer); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

/// Routes libxslt's own messages (compilation, xsl:message, run-time errors) into a
/// collector for the lifetime of the object, on this thread.
class XsltErrorScope {
 public:
  explicit XsltErrorScope(ErrorCollector& collector) {
    xsltSetGenericErrorFunc(&collector, &ErrorCollector::on_generic);
  }
  ~XsltErrorScope() { xsltSetGenericErrorFunc(nullptr, nullptr); }
  XsltErrorScope(const XsltErrorScope&) = delete;
  XsltErrorScope& operator=(const XsltErrorScope&) = delete;
};

/// Makes the buffers that libxml2 creates on this thread start small for the lifetime of
/// the object. The XPath string functions (concat, translate, ...) each make a buffer of
/// the default size, 4000 bytes, for a result of a few characters; allocating blocks that
/// large, tens of thousands of times, costs the allocator far more than small ones, and a
/// buffer still grows as far as its text needs.
class SmallBuffers {
 public:
  SmallBuffers() : saved_(xmlDefaultBufferSize) { xmlDefaultBufferSize = 64; }
  ~SmallBuffers() { xmlDefaultBufferSize = saved_; }
  SmallBuffers(const SmallBuffers&) = delete;
  SmallBuffers& operator=(const SmallBuffers&) = delete;

 private:
  int saved_;
};

/// Reads and parses a file; nullptr when it cannot be read or is not well-formed. The
/// reasons are not wanted here: the callers only say that loading failed.
DocPtr load_document(const std::string& path, int options) {
  ErrorCollector silenced;
  // The platform's own separators: libxml2 takes "C:/dir/x.xsl" for a URI whose scheme is
  // "c", and would then resolve the stylesheet's includes against it; "C:\\dir\\x.xsl" is a
  // file name. (On POSIX nothing changes.)
  const std::string native = path_to_utf8(path_from_utf8(path).make_preferred());
  return DocPtr(xmlReadFile(native.c_str(), nullptr, options));
}

bool same_name(const xmlChar* name, const char* wanted) {
  return name != nullptr && xmlStrcasecmp(name, reinterpret_cast<const xmlChar*>(wanted)) == 0;
}

xmlNode* first_child_element(xmlNode* parent, const char* name) {
  for (xmlNode* child = parent ? parent->children : nullptr; child != nullptr; child = child->next) {
    if (child->type == XML_ELEMENT_NODE && same_name(child->name, name)) return child;
  }
  return nullptr;
}

/// Puts the UTF-16 charset declaration first in the page's head, on a line of its own.
void insert_charset_declaration(xmlDoc* page) {
  xmlNode* head = first_child_element(first_child_element(reinterpret_cast<xmlNode*>(page), "html"), "head");
  if (head == nullptr) return;
  xmlNode* meta = xmlNewDocNode(page, nullptr, BAD_CAST "META", nullptr);
  xmlNewProp(meta, BAD_CAST "http-equiv", BAD_CAST "Content-Type");
  xmlNewProp(meta, BAD_CAST "content", BAD_CAST "text/html; charset=UTF-16");
  xmlNode* before = xmlNewDocText(page, BAD_CAST "\n");
  xmlNode* after = xmlNewDocText(page, BAD_CAST "\n");
  if (head->children != nullptr) {
    xmlAddPrevSibling(head->children, before);
  } else {
    xmlAddChild(head, before);
  }
  xmlAddNextSibling(before, meta);
  xmlAddNextSibling(meta, after);
}

/// How the HTML serializer lays the page out: the stylesheet's indent, on by default.
int html_format(xsltStylesheet* style) {
  int indent = -1;
  XSLT_GET_IMPORT_INT(indent, style, indent);
  return indent == -1 ? 1 : indent;
}

// ---------------------------------------------------------------------------------
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

const char* const block_namespace = "urn:zona12:pagina";
const char* const block_instruction = "blocchi";

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

/// Output callback of serialize(): hands the bytes to the writer in context.
int write_piece(void* context, const char* bytes, int length) {
  try {
    const auto& write = *static_cast<const PageWriter*>(context);
    return write(std::string_view(bytes, static_cast<std::size_t>(length))) ? length : -1;
  } catch (...) {
    return -1;
  }
}

/// Passes the page on to write, with each region's blocks in place of its placeholder's
/// bytes. The bytes that might begin the next placeholder's are kept back until the next
/// piece shows whether they do.
class BlockSplicer {
 public:
  BlockSplicer(const BlockSpill& spill, const PageWriter& write) : spill_(spill), write_(write) {}

  bool operator()(std::string_view piece) {
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

  /// Passes on what was kept back; false when a placeholder never came.
  bool finish() {
    const bool written = held_.empty() || write_(held_);
    held_.clear();
    return written && next_ == spill_.regions.size();
  }

 private:
  const BlockSpill& spill_;
  const PageWriter& write_;
  std::string held_;
  std::size_t next_ = 0;  ///< the region whose placeholder comes next
};

/// Serialises the result document as UTF-8 text, whatever encoding the stylesheet asks
/// for, handing it to write in pieces as it is made: the page is handed over as text, not
/// as a file, so the encoding is the caller's, and a large page is never held whole. The
/// blocks written out during the transformation take the place of their placeholder.
/// False when write refused bytes; throws when the serializer fails.
bool serialize(xmlDoc* result, xsltStylesheet* style, const BlockSpill& spill, const PageWriter& write) {
  // libxml2's own line for a refused piece is not shown: the caller says why, once.
  const ErrorCollector quiet;
  BlockSplicer splicer(spill, write);
  const PageWriter spliced = [&splicer](std::string_view piece) { return splicer(piece); };
  const PageWriter& out = spill.regions.empty() ? write : spliced;
  std::unique_ptr<xmlOutputBuffer, OutputFree> buffer(
      xmlOutputBufferCreateIO(&write_piece, nullptr, const_cast<PageWriter*>(&out), nullptr));
  if (!buffer) throw Failure("memoria insufficiente per il risultato della trasformazione");
  bool written = true;
  if (result->type == XML_HTML_DOCUMENT_NODE) {
    insert_charset_declaration(result);
    htmlDocContentDumpFormatOutput(buffer.get(), result, "UTF-8", html_format(style));
  } else if (xsltSaveResultTo(buffer.get(), result, style) < 0) {
    written = false;
  }
  // A refused piece shows as the buffer's error, kept until it is closed.
  const bool refused = buffer->error != 0;
  if (xmlOutputBufferClose(buffer.release()) < 0 || refused) return false;
  if (!written || (!spill.regions.empty() && !splicer.finish()))
    throw Failure("il risultato della trasformazione non può essere scritto");
  return true;
}

[[noreturn]] void fail(const std::string& what, const ErrorCollector& errors) {
  std::string text = what;
  if (!errors.text().empty()) text += ": " + errors.text();
  throw Failure(text);
}

}  // namespace

struct XsltProcessor::Impl {
  DocPtr stylesheet;
  DocPtr input;
  std::size_t nodes_written_out = 0;  ///< by the last transformation
};

XsltProcessor::XsltProcessor() : impl_(std::make_unique<Impl>()) { xmlInitParser(); }
XsltProcessor::~XsltProcessor() = default;

void XsltProcessor::load_stylesheet(const std::string& path) {
  impl_->stylesheet = load_document(path, XSLT_PARSE_OPTIONS | XML_PARSE_NONET);
  if (!impl_->stylesheet) throw Failure("file xslt mal formato");
}

void XsltProcessor::load_input(const std::string& path) {
  // No DTD loading and no entity substitution: the input cannot pull other files in.
  // Indentation between elements is dropped and short texts are stored in their nodes:
  // a large report then takes about half the memory, and the pages do not change.
  impl_->input = load_document(path, XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_NOBLANKS | XML_PARSE_COMPACT);
  if (!impl_->input) throw Failure("file xml di input mal formato");
}

struct XsltProcessor::Applied {
  std::unique_ptr<xsltStylesheet, StyleFree> style;
  DocPtr result;
  /// The blocks already serialised, which the result holds a placeholder for.
  BlockSpill blocks;
};

XsltProcessor::Applied XsltProcessor::apply(const XsltParameters& parameters) const {
  if (!impl_->stylesheet || !impl_->input) throw Failure("foglio di stile o documento non caricato");
  ErrorCollector errors;
  XsltErrorScope xslt_errors(errors);

  // The stylesheet takes its document over, so it compiles a copy and the loaded
  // document stays usable for another transformation.
  DocPtr copy(xmlCopyDoc(impl_->stylesheet.get(), 1));
  if (!copy) throw Failure("memoria insufficiente per il foglio di stile");
  Applied applied;
  applied.style.reset(xsltParseStylesheetDoc(copy.get()));
  xsltStylesheet* style = applied.style.get();
  if (style && style->doc == copy.get()) copy.release();  // now owned by the stylesheet
  if (!style || style->errors != 0) fail("foglio di stile non valido", errors);

  std::unique_ptr<xsltTransformContext, ContextFree> context(xsltNewTransformContext(style, impl_->input.get()));
  std::unique_ptr<xsltSecurityPrefs, PrefsFree> prefs(xsltNewSecurityPrefs());
  if (!context || !prefs) throw Failure("memoria insufficiente per la trasformazione");
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
  xsltSetCtxtSecurityPrefs(prefs.get(), context.get());
  context->_private = &applied.blocks;
  if (xsltRegisterExtElement(context.get(), BAD_CAST block_instruction, BAD_CAST block_namespace, &apply_in_blocks) !=
      0)
    throw Failure("memoria insufficiente per la trasformazione");
  for (const auto& [name, value] : parameters) {
    if (xsltQuoteOneUserParam(context.get(), BAD_CAST name.c_str(), BAD_CAST value.c_str()) != 0)
      fail("parametro del foglio di stile non valido (" + name + ")", errors);
  }

  impl_->nodes_written_out = 0;
  {
    SmallBuffers small_buffers;
    applied.result.reset(xsltApplyStylesheetUser(style, impl_->input.get(), nullptr, nullptr, nullptr, context.get()));
  }
  impl_->nodes_written_out = applied.blocks.nodes;
  if (!applied.result || context->state != XSLT_STATE_OK) fail("errore nella trasformazione", errors);
  // The context, with its keys and temporary trees, goes here: the page is written without it.
  return applied;
}

std::string XsltProcessor::transform(const XsltParameters& parameters) const {
  Applied applied = apply(parameters);
  std::string text;
  serialize(applied.result.get(), applied.style.get(), applied.blocks, [&text](std::string_view piece) {
    text.append(piece);
    return true;
  });
  return text;
}

bool XsltProcessor::transform_to(const PageWriter& write, const XsltParameters& parameters) {
  Applied applied = apply(parameters);
  // The result tree holds its own copies: the input is not needed to write the page.
  impl_->input.reset();
  return serialize(applied.result.get(), applied.style.get(), applied.blocks, write);
}

std::size_t XsltProcessor::nodes_written_out() const { return impl_->nodes_written_out; }

}  // namespace platform

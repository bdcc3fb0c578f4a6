// The XSLT processor on libxslt. Errors of libxml2 and libxslt are collected per call
// instead of going to standard error, and the transformation may read files (the
// stylesheet's own modules, document()) but never write files or use the network.
#include "xml/xslt.hpp"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <libexslt/exslt.h>
#include <libxml/HTMLtree.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include "platform/paths.hpp"
#include "xml/page_blocks.hpp"
#include "xml/xml_errors.hpp"

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

/// Output callback of serialize(): hands the bytes to the writer in context.
int write_piece(void* context, const char* bytes, int length) {
  try {
    const auto& write = *static_cast<const PageWriter*>(context);
    return write(std::string_view(bytes, static_cast<std::size_t>(length))) ? length : -1;
  } catch (...) {
    return -1;
  }
}

/// Serialises the result document as UTF-8 text, whatever encoding the stylesheet asks
/// for, handing it to write in pieces as it is made: the page is handed over as text, not
/// as a file, so the encoding is the caller's, and a large page is never held whole. The
/// blocks written out during the transformation take the place of their placeholder.
/// False when write refused bytes; throws when the serializer fails.
bool serialize(xmlDoc* result, xsltStylesheet* style, const page_blocks::BlockSpill& spill, const PageWriter& write) {
  // libxml2's own line for a refused piece is not shown: the caller says why, once.
  const ErrorCollector quiet;
  page_blocks::BlockSplicer splicer(spill, write);
  const PageWriter spliced = [&splicer](std::string_view piece) { return splicer(piece); };
  const PageWriter& out = spill.regions.empty() ? write : spliced;
  std::unique_ptr<xmlOutputBuffer, OutputFree> buffer(
      xmlOutputBufferCreateIO(&write_piece, nullptr, const_cast<PageWriter*>(&out), nullptr));
  if (!buffer) throw Failure("memoria insufficiente per il risultato della trasformazione");
  bool written = true;
  if (result->type == XML_HTML_DOCUMENT_NODE) {
    insert_charset_declaration(result);
    htmlDocContentDumpFormatOutput(buffer.get(), result, "UTF-8", page_blocks::html_format(style));
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

XsltProcessor::XsltProcessor() : impl_(std::make_unique<Impl>()) {
  xmlInitParser();
  // exsl:node-set, with which a page counts what a section lists before writing it once;
  // registered once for the process.
  static const bool exslt_common = (exsltCommonRegister(), true);
  (void)exslt_common;
}
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
  page_blocks::BlockSpill blocks;
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
  if (!page_blocks::register_instruction(context.get(), applied.blocks))
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

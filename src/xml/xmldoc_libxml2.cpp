// The report document over libxml2's tree API.
#include <algorithm>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include "platform/codepage.hpp"
#include "platform/files.hpp"
#include "platform/paths.hpp"
#include "platform/utf8.hpp"
#include "xml/xml_errors.hpp"
#include "xml/xmldoc.hpp"

namespace platform {

namespace {

const xmlChar* to_xml(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

/// A character XML 1.0 can hold: TAB, LF, CR, U+0020 to U+D7FF, U+E000 to U+FFFD and
/// U+10000 to U+10FFFF.
bool xml_character(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

/// text with every character that XML 1.0 cannot hold replaced by "?", one per
/// character, so that the saved file always parses: control characters other than TAB,
/// LF and CR, U+FFFE and U+FFFF; and one "?" for each byte that is not part of a
/// well-formed UTF-8 sequence (overlong forms, surrogates, code points above U+10FFFF,
/// sequences cut short, stray bytes).
std::string xml_safe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::string_view rest(text);
  while (!rest.empty()) {
    const utf8::Decoded c = utf8::decode(rest);
    if (c.well_formed && xml_character(c.code_point))
      out.append(rest.substr(0, c.length));
    else
      out += '?';
    rest.remove_prefix(c.length);
  }
  return out;
}

/// A text node of doc that holds text. With the document's dictionary the text is kept
/// there once, shared by every node that holds the same: a report repeats its dates,
/// codes and values many times, and each copy of its own would be one more allocation.
xmlNodePtr new_text(xmlDocPtr doc, const std::string& text) {
  const int length = static_cast<int>(text.size());
  if (!doc->dict) return xmlNewDocTextLen(doc, to_xml(text), length);
  const xmlChar* shared = xmlDictLookup(doc->dict, to_xml(text), length);
  if (!shared) return nullptr;
  xmlNodePtr node = xmlNewDocText(doc, nullptr);
  // Freeing the node leaves alone what the dictionary owns.
  if (node) node->content = const_cast<xmlChar*>(shared);
  return node;
}

}  // namespace

XmlElement XmlElement::append_child(const std::string& name) {
  if (!node_) return {};
  auto* parent = static_cast<xmlNodePtr>(node_);
  xmlNodePtr child = xmlNewDocNode(parent->doc, parent->ns, to_xml(name), nullptr);
  if (!child) return {};
  xmlAddChild(parent, child);
  return XmlElement(child);
}

XmlElement XmlElement::append_text_child(const std::string& name, const std::string& text) {
  XmlElement child = append_child(name);
  if (child.valid() && !text.empty()) {
    auto* node = static_cast<xmlNodePtr>(child.node_);
    // Most texts are plain ASCII, which XML holds as it is: only the others are checked
    // character by character.
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return (byte >= 0x20 && byte <= 0x7F) || c == '\t' || c == '\n' || c == '\r';
    });
    const std::string checked = plain ? std::string() : xml_safe(text);
    const std::string& safe = plain ? text : checked;
    xmlNodePtr text_node = new_text(node->doc, safe);
    if (text_node) xmlAddChild(node, text_node);
  }
  return child;
}

std::string XmlElement::name() const {
  if (!node_) return {};
  auto* node = static_cast<xmlNodePtr>(node_);
  return node->name ? reinterpret_cast<const char*>(node->name) : "";
}

namespace {

/// The failure of a save, naming the file (and why, when there is more to say).
Failure cannot_write(const std::string& path, const std::string& why = {}) {
  return Failure("Impossibile scrivere il file '" + path + "'" + (why.empty() ? "" : ": " + why));
}

Failure unknown_encoding(const std::string& encoding) {
  return Failure("XmlDocument: impossibile serializzare il documento (codifica '" + encoding + "')");
}

/// A writer into file that stops at the first failed write; committing the file says why.
std::function<bool(std::string_view)> writer_to(FileReplacement& file) {
  return [&file](std::string_view bytes) {
    file.write(bytes);
    return file.accepting();
  };
}

/// The output callback's context: the caller's writer and whether it refused bytes.
struct Sink {
  const std::function<bool(std::string_view)>* write;
  bool failed = false;
  static int on_write(void* context, const char* bytes, int length) {
    auto* sink = static_cast<Sink*>(context);
    try {
      if (!sink->failed && (*sink->write)(std::string_view(bytes, static_cast<std::size_t>(length)))) return length;
    } catch (...) {
    }
    sink->failed = true;
    return -1;
  }
};

/// A save begun while the document is built. Each part is serialised by libxml2 at its
/// depth, with the indentation and line ends that saving the whole document gives it
/// (XML_SAVE_FORMAT: an element holding elements only puts each child on a line of its
/// own, two blanks deeper); the start and end tags of the elements above the parts are
/// written here, in the same layout.
struct StreamedSave {
  std::string path;
  std::unique_ptr<FileReplacement> file;
  std::function<bool(std::string_view)> write;
  Sink sink{&write};
  xmlOutputBufferPtr out = nullptr;
  xmlDocPtr doc = nullptr;
  std::string encoding;
  /// The elements whose start tags are written, the top first: the one at index i is at depth i.
  std::vector<xmlNodePtr> open;

  StreamedSave(const std::string& target, xmlDocPtr document, const std::string& encoding_name)
      : path(target), file(std::make_unique<FileReplacement>(target)), doc(document), encoding(encoding_name) {
    write = writer_to(*file);
    // UTF-8 goes out as the tree holds it; another encoding is converted on the way.
    xmlCharEncodingHandlerPtr encoder = nullptr;
    if (xmlParseCharEncoding(encoding.c_str()) != XML_CHAR_ENCODING_UTF8) {
      encoder = xmlFindCharEncodingHandler(encoding.c_str());
      if (!encoder) throw unknown_encoding(encoding);
    }
    out = xmlOutputBufferCreateIO(&Sink::on_write, nullptr, &sink, encoder);
    if (!out) throw cannot_write(path);
  }
  ~StreamedSave() {
    const ErrorCollector quiet;  // a failed write has its own message
    if (out) xmlOutputBufferClose(out);
  }
  StreamedSave(const StreamedSave&) = delete;
  StreamedSave& operator=(const StreamedSave&) = delete;

  void put(std::string_view bytes) { xmlOutputBufferWrite(out, static_cast<int>(bytes.size()), bytes.data()); }
  void indent(std::size_t depth) {
    for (std::size_t i = 0; i < depth; ++i) put("  ");
  }

  void declaration(const std::string& version, bool standalone) {
    put("<?xml version=\"" + version + "\" encoding=\"" + encoding + "\"");
    if (standalone) put(" standalone=\"yes\"");
    put("?>\n");
  }

  /// node and its subtree on lines of their own at depth; then node is freed.
  void write_whole(xmlNodePtr node, std::size_t depth) {
    indent(depth);
    xmlNodeDumpOutput(out, doc, node, static_cast<int>(depth), 1, encoding.c_str());
    put("\n");
    xmlUnlinkNode(node);
    xmlFreeNode(node);
  }

  /// Writes and frees the children of parent that come before child (all of them when
  /// child is null): whatever is still there has not been written.
  void write_children_before(xmlNodePtr parent, xmlNodePtr child, std::size_t depth) {
    while (parent->children && parent->children != child) write_whole(parent->children, depth);
  }

  /// node's start tag, as libxml2 writes it with its namespaces and attributes: dumped
  /// without its children it reads "<name .../>".
  void open_element(xmlNodePtr node) {
    indent(open.size());
    xmlNodePtr children = node->children;
    xmlNodePtr last = node->last;
    node->children = node->last = nullptr;
    xmlBufferPtr tag = xmlBufferCreate();
    const int length = tag ? xmlNodeDump(tag, doc, node, static_cast<int>(open.size()), 1) : -1;
    node->children = children;
    node->last = last;
    if (length < 2) {
      xmlBufferFree(tag);
      throw Failure("XmlDocument: impossibile serializzare il documento");
    }
    put(std::string_view(reinterpret_cast<const char*>(xmlBufferContent(tag)), static_cast<std::size_t>(length) - 2));
    xmlBufferFree(tag);
    put(">\n");
    open.push_back(node);
  }

  /// Finishes the deepest open element: its remaining children, its end tag. It is freed
  /// unless it is the top.
  void close_element() {
    xmlNodePtr node = open.back();
    const std::size_t depth = open.size() - 1;
    write_children_before(node, nullptr, depth + 1);
    indent(depth);
    put("</");
    if (node->ns && node->ns->prefix) {
      put(reinterpret_cast<const char*>(node->ns->prefix));
      put(":");
    }
    put(reinterpret_cast<const char*>(node->name));
    put(">\n");
    open.pop_back();
    if (!open.empty()) {
      xmlUnlinkNode(node);
      xmlFreeNode(node);
    }
  }

  void write_finished(xmlNodePtr element, const std::string& version, bool standalone) {
    std::vector<xmlNodePtr> above;  // element's ancestors, the top first
    for (xmlNodePtr p = element->parent; p && p->type == XML_ELEMENT_NODE; p = p->parent) above.push_back(p);
    if (above.empty()) return;
    std::reverse(above.begin(), above.end());
    if (!open.empty() && open.front() != above.front()) return;  // not in the tree being written
    // element itself is open when parts of it were written.
    above.push_back(element);
    std::size_t shared = 0;
    while (shared < open.size() && shared < above.size() && open[shared] == above[shared]) ++shared;
    while (open.size() > shared) close_element();
    if (shared == above.size()) {
      close_element();
      return;
    }
    above.pop_back();
    if (open.empty()) declaration(version, standalone);
    while (open.size() < above.size()) {
      xmlNodePtr next = above[open.size()];
      if (!open.empty()) write_children_before(open.back(), next, open.size());
      open_element(next);
    }
    write_children_before(open.back(), element, open.size());
    write_whole(element, open.size());
  }

  /// Writes the rest and replaces the file; throws naming the path when it cannot.
  void finish(xmlNodePtr root) {
    if (!open.empty() && open.front() != root)
      throw cannot_write(path, "il documento è cambiato durante il salvataggio");
    while (!open.empty()) close_element();
    const int closed = xmlOutputBufferClose(out);
    out = nullptr;
    file->commit();  // a refused write makes this throw, naming the path
    if (sink.failed || closed < 0) throw cannot_write(path);
  }
};

}  // namespace

struct XmlDocument::Impl {
  xmlDocPtr doc = nullptr;
  /// Roots created but not (or no longer) attached: libxml2 frees only what hangs in the tree.
  std::vector<xmlNodePtr> detached;
  std::string version = "1.0";
  std::string encoding = "UTF-8";
  bool standalone = false;
  std::unique_ptr<StreamedSave> streamed;

  void free_all() {
    streamed.reset();
    for (xmlNodePtr node : detached) xmlFreeNode(node);
    detached.clear();
    if (doc) xmlFreeDoc(doc);
    doc = nullptr;
  }

  /// Serialises the document with its declaration, indented, handing the bytes to
  /// write in pieces as they are made: the text is never held whole. False when write
  /// refused bytes; throws when the document cannot be serialised.
  bool dump(const std::function<bool(std::string_view)>& write) const {
    if (!doc) return true;
    // The declaration is written from the document's own fields.
    xmlFree(const_cast<xmlChar*>(doc->version));
    doc->version = xmlStrdup(to_xml(version));
    doc->standalone = standalone ? 1 : -1;
    Sink sink{&write};
    const ErrorCollector quiet;  // the caller says why a write failed
    xmlSaveCtxtPtr context = xmlSaveToIO(&Sink::on_write, nullptr, &sink, encoding.c_str(), XML_SAVE_FORMAT);
    if (!context) throw unknown_encoding(encoding);
    const long written = xmlSaveDoc(context, doc);
    // Closing writes what the context still buffers.
    const int closed = xmlSaveClose(context);
    if (sink.failed) return false;
    if (written < 0 || closed < 0) throw Failure("XmlDocument: impossibile serializzare il documento");
    return true;
  }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) { xmlInitParser(); }

XmlDocument::~XmlDocument() { impl_->free_all(); }

void XmlDocument::activate() {
  if (impl_->doc) return;
  impl_->doc = xmlNewDoc(to_xml(impl_->version));
  // Element names are kept once in the document's dictionary rather than copied into
  // every element: a report repeats a few dozen names in hundreds of thousands of elements.
  if (impl_->doc) impl_->doc->dict = xmlDictCreate();
}

bool XmlDocument::active() const { return impl_->doc != nullptr; }

void XmlDocument::deactivate() { impl_->free_all(); }

void XmlDocument::begin_save(const std::string& path) {
  activate();
  impl_->streamed.reset();
  impl_->streamed = std::make_unique<StreamedSave>(path, impl_->doc, impl_->encoding);
}

void XmlDocument::write_finished(XmlElement element) {
  // libxml2's own line for a write the file refused is not shown: finishing the save
  // says why it failed, once.
  const ErrorCollector quiet;
  auto* node = static_cast<xmlNodePtr>(element.node_);
  if (!impl_->streamed || !node || node->doc != impl_->doc) return;
  impl_->streamed->write_finished(node, impl_->version, impl_->standalone);
}

void XmlDocument::end_save() {
  if (!impl_->streamed) throw Failure("XmlDocument: nessun salvataggio iniziato");
  const ErrorCollector quiet;  // the exception says why a write failed
  std::unique_ptr<StreamedSave> streamed = std::move(impl_->streamed);
  if (streamed->open.empty()) {
    // Nothing written yet: the whole document goes as save() writes it.
    FileReplacement& file = *streamed->file;
    if (!impl_->dump(writer_to(file))) throw cannot_write(streamed->path);
  }
  streamed->finish(xmlDocGetRootElement(impl_->doc));
}

void XmlDocument::abandon_save() { impl_->streamed.reset(); }

XmlElement XmlDocument::create_root(const std::string& ns_uri, const std::string& name) {
  activate();
  xmlNodePtr root = xmlNewDocNode(impl_->doc, nullptr, to_xml(name), nullptr);
  if (!root) return {};
  // The namespace is declared on the root itself as its default namespace; children made
  // with the parent's namespace then need no declaration of their own.
  if (!ns_uri.empty()) {
    xmlNsPtr ns = xmlNewNs(root, to_xml(ns_uri), nullptr);
    xmlSetNs(root, ns);
  }
  impl_->detached.push_back(root);
  return XmlElement(root);
}

void XmlDocument::set_document_element(XmlElement root) {
  auto* node = static_cast<xmlNodePtr>(root.node_);
  if (!node) return;
  activate();
  if (node->doc != impl_->doc) return;  // not one of ours
  xmlNodePtr old = xmlDocGetRootElement(impl_->doc);
  if (old == node) return;
  auto& detached = impl_->detached;
  detached.erase(std::remove(detached.begin(), detached.end(), node), detached.end());
  xmlUnlinkNode(node);
  if (old) {
    xmlUnlinkNode(old);
    xmlFreeNode(old);
  }
  xmlAddChild(reinterpret_cast<xmlNodePtr>(impl_->doc), node);
}

XmlElement XmlDocument::document_element() const {
  if (!impl_->doc) return {};
  xmlNodePtr root = xmlDocGetRootElement(impl_->doc);
  return root ? XmlElement(root) : XmlElement();
}

void XmlDocument::set_declaration(const std::string& version, const std::string& encoding, bool standalone) {
  impl_->version = version;
  impl_->encoding = encoding;
  impl_->standalone = standalone;
}

void XmlDocument::save(const std::string& path) const {
  // Written straight into the replacing file: a large report is not built in memory first.
  FileReplacement file(path);
  const bool complete = impl_->dump(writer_to(file));
  file.commit();  // a refused write makes this throw, naming the path
  if (!complete) throw cannot_write(path);
}

std::string XmlDocument::to_string() const {
  std::string text;
  impl_->dump([&text](std::string_view bytes) {
    text.append(bytes);
    return true;
  });
  return text;
}

}  // namespace platform

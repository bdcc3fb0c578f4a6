// The report document over libxml2's tree API.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#include "platform/codepage.hpp"
#include "platform/paths.hpp"
#include "platform/xmldoc.hpp"

namespace platform {

namespace {

const xmlChar* to_xml(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

/// text with every character that XML 1.0 cannot hold (control characters other than
/// TAB, LF and CR, malformed UTF-8) replaced by "?", so that the saved file always parses.
std::string xml_safe(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    // A byte of 0x80 or more that does not start a well formed sequence stands alone.
    const std::size_t len = utf8_sequence_length(std::string_view(text).substr(i));
    if (len > 1)
      out.append(text, i, len);
    else
      out += '?';
    i += len;
  }
  return out;
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
    const std::string safe = xml_safe(text);
    xmlNodePtr text_node = xmlNewDocTextLen(node->doc, to_xml(safe), static_cast<int>(safe.size()));
    if (text_node) xmlAddChild(node, text_node);
  }
  return child;
}

std::string XmlElement::name() const {
  if (!node_) return {};
  auto* node = static_cast<xmlNodePtr>(node_);
  return node->name ? reinterpret_cast<const char*>(node->name) : "";
}

struct XmlDocument::Impl {
  xmlDocPtr doc = nullptr;
  /// Roots created but not (or no longer) attached: libxml2 frees only what hangs in the tree.
  std::vector<xmlNodePtr> detached;
  std::string version = "1.0";
  std::string encoding = "UTF-8";
  bool standalone = false;

  void free_all() {
    for (xmlNodePtr node : detached) xmlFreeNode(node);
    detached.clear();
    if (doc) xmlFreeDoc(doc);
    doc = nullptr;
  }

  /// The document serialised with its declaration, indented.
  std::string dump() const {
    if (!doc) return {};
    // The declaration is written from the document's own fields.
    xmlFree(const_cast<xmlChar*>(doc->version));
    doc->version = xmlStrdup(to_xml(version));
    doc->standalone = standalone ? 1 : -1;
    xmlChar* buffer = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc, &buffer, &size, encoding.c_str(), 1);
    if (!buffer) throw std::runtime_error("XmlDocument: impossibile serializzare il documento (codifica '" + encoding + "')");
    std::string text(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
    xmlFree(buffer);
    return text;
  }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) { xmlInitParser(); }

XmlDocument::~XmlDocument() { impl_->free_all(); }

void XmlDocument::activate() {
  if (!impl_->doc) impl_->doc = xmlNewDoc(to_xml(impl_->version));
}

bool XmlDocument::active() const { return impl_->doc != nullptr; }

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
  namespace fs = std::filesystem;
  const std::string text = impl_->dump();
  const fs::path target = path_from_utf8(path);
  if (target.filename().empty())
    throw std::runtime_error("Impossibile salvare il documento XML: percorso non valido '" + path + "'");

  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const fs::path temp = target.parent_path() / path_from_utf8("." + path_to_utf8(target.filename()) + "." +
                                                               std::to_string(random()) + "." +
                                                               std::to_string(++counter) + ".tmp");
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("Impossibile scrivere il file '" + path + "'");
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(temp, ec);
      throw std::runtime_error("Impossibile scrivere il file '" + path + "'");
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw std::runtime_error("Impossibile salvare il file '" + path + "': " + ec.message());
  }
}

std::string XmlDocument::to_string() const { return impl_->dump(); }

}  // namespace platform

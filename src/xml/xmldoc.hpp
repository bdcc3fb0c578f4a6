#pragma once
// The report document: a DOM in which a root element is created in a namespace and
// every other element is appended without a prefix of its own, so that it belongs to
// its parent's namespace and the saved file declares the namespace once, on the root.
#include <memory>
#include <string>

#include "platform/failure.hpp"

namespace platform {

class XmlDocument;

/// A handle on an element of an XmlDocument; valid while the document lives.
class XmlElement {
 public:
  XmlElement() = default;
  bool valid() const { return node_ != nullptr; }
  /// Appends a child element, in this element's namespace, as the last child.
  XmlElement append_child(const std::string& name);
  /// Appends a child element holding text (UTF-8; written even when empty).
  XmlElement append_text_child(const std::string& name, const std::string& text);
  std::string name() const;

 private:
  friend class XmlDocument;
  explicit XmlElement(void* node) : node_(node) {}
  void* node_ = nullptr;
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  /// Makes the document usable; an inactive document becomes an empty one.
  void activate();
  bool active() const;
  /// Frees the whole tree (and any root not attached) and drops a begun save; the
  /// document is inactive until activated again. Handles on its elements become invalid.
  void deactivate();

  /// Creates an element in namespace ns_uri as the default namespace, not yet attached:
  /// it belongs to this document and is freed with it unless it becomes the root.
  XmlElement create_root(const std::string& ns_uri, const std::string& name);
  /// Makes root the document element, freeing any earlier document element.
  void set_document_element(XmlElement root);
  /// The document element, or an invalid handle.
  XmlElement document_element() const;

  /// The XML declaration written when the document is saved.
  void set_declaration(const std::string& version, const std::string& encoding, bool standalone);

  /// Saves the document to path through replace_file (files.hpp): in one step, a link
  /// kept and its target replaced, permission bits kept, a new file owner-only, a failed
  /// save leaving any earlier file intact. Throws Failure with a message that
  /// names the path when it cannot be written.
  void save(const std::string& path) const;

  /// Begins saving the document to path while it is still being built, so that a large
  /// document is never held whole: write_finished hands over each finished part, end_save
  /// writes the rest and replaces the file. The file is replaced as save() replaces it, and
  /// only then: until end_save succeeds, what has been written waits in a temporary file
  /// that abandon_save (or deactivate) removes. Serves a document whose only child is its
  /// element, built in document order, whose elements above each finished part hold
  /// elements only. Throws Failure naming path when the file cannot be made.
  void begin_save(const std::string& path);
  /// While a save is begun: writes element, with whatever comes before it in document
  /// order, and frees what it wrote; handles on those elements become invalid. Its
  /// ancestors stay, their start tags written; an ancestor that element is not in is
  /// finished, written whole and freed too (the document element stays). Nothing happens
  /// when no save is begun or element has no parent element.
  void write_finished(XmlElement element);
  /// Writes the rest of the document and replaces the file: it then holds what save()
  /// would have written for the whole document. Throws Failure naming the path
  /// when no save is begun, when the document element is no longer the one being written,
  /// or when the file cannot be written; any earlier file then stays. The save is over
  /// either way.
  void end_save();
  /// Drops a begun save: the temporary file goes, any earlier file stays. Harmless when
  /// no save is begun.
  void abandon_save();

  /// The document as the saved file would hold it (without what a begun save wrote).
  std::string to_string() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform

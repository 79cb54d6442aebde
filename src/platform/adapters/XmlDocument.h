#pragma once
// An XML document model over pugixml. Handles are cheap to copy and refer into their document.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pugi {
struct xml_node_struct;
}

namespace velmora::platform {

class XmlNode {
 public:
  XmlNode() = default;
  explicit operator bool() const { return node_ != nullptr; }
  bool IsElement() const;
  // Character data (text or white space between elements).
  bool IsText() const;
  std::string Name() const;
  // The content of a text node.
  std::string Text() const;
  XmlNode FirstChild() const;
  XmlNode LastChild() const;
  XmlNode NextSibling() const;
  XmlNode PreviousSibling() const;
  // The first child that is an element, skipping white space, comments and the like.
  XmlNode FirstElementChild() const;
  std::optional<std::string> Attribute(const std::string& name) const;
  std::string AttributeOrEmpty(const std::string& name) const;
  // Replaces the attribute's value, or appends the attribute when it is missing.
  void SetAttribute(const std::string& name, const std::string& value);
  XmlNode AppendElement(const std::string& name);
  // Inserts a new child in front of `before`, which must be a child of this node.
  XmlNode InsertElementBefore(const std::string& name, XmlNode before);
  XmlNode InsertTextBefore(const std::string& text, XmlNode before);

 private:
  friend class XmlDocument;
  explicit XmlNode(pugi::xml_node_struct* node) : node_(node) {}
  pugi::xml_node_struct* node_ = nullptr;
};

struct XmlParseResult {
  bool ok = false;
  std::string description;  // the parser's own message when not ok
  // Where the parser stopped, counted from 1; 0 when it cannot say.
  uint64_t line = 0;
  uint64_t column = 0;
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;

  // Parses text, which must be a well-formed XML 1.0 document (CheckXmlWellFormed); when it is
  // not, the result carries the conforming parser's message. `keepEverything` keeps comments,
  // declarations, processing instructions, the document type, white-space text (also around the
  // root element) and line ends as written, so that a document written back raw keeps what its
  // author wrote; otherwise white-space-only text and comments are dropped.
  XmlParseResult Parse(const std::string& text, bool keepEverything);
  // The document's first element (the root element).
  XmlNode Root() const;
  XmlNode AppendRoot(const std::string& name);
  // The document as text. Raw: in the encoding it was read in, as read where nothing changed
  // (keepEverything) except for the spelling inside tags (quotes, spaces between attributes,
  // character references), which is normalised. Otherwise indented, with a declaration.
  std::string Serialize(bool raw) const;
  // Whether text stored in this document is written well-formed and reads back unchanged: it
  // must be UTF-8 of characters XML holds (no NUL, no control character but tab and line ends)
  // that the document's encoding has (up to U+00FF in Latin-1, U+007F in US-ASCII). Nothing
  // is carried by a document that already holds characters its encoding cannot write back or
  // that XML forbids.
  bool Carries(std::string_view text) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform

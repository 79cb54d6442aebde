#pragma once
// An XML document model over pugixml. Handles are cheap to copy and refer into their document.
#include <memory>
#include <optional>
#include <string>

namespace pugi {
struct xml_node_struct;
}

namespace velmora::platform {

class XmlNode {
 public:
  XmlNode() = default;
  explicit operator bool() const { return node_ != nullptr; }
  bool IsElement() const;
  std::string Name() const;
  XmlNode FirstChild() const;
  XmlNode NextSibling() const;
  // The first child that is an element, skipping white space, comments and the like.
  XmlNode FirstElementChild() const;
  std::optional<std::string> Attribute(const std::string& name) const;
  std::string AttributeOrEmpty(const std::string& name) const;
  // Replaces the attribute's value, or appends the attribute when it is missing.
  void SetAttribute(const std::string& name, const std::string& value);
  XmlNode AppendElement(const std::string& name);

 private:
  friend class XmlDocument;
  explicit XmlNode(pugi::xml_node_struct* node) : node_(node) {}
  pugi::xml_node_struct* node_ = nullptr;
};

struct XmlParseResult {
  bool ok = false;
  std::string description;  // the parser's own message when not ok
};

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;

  // Parses text. `keepEverything` keeps comments, declarations and white-space text so that a
  // document written back loses nothing of what its author wrote; otherwise white-space-only
  // text is dropped.
  XmlParseResult Parse(const std::string& text, bool keepEverything);
  // The document's first element (the root element).
  XmlNode Root() const;
  XmlNode AppendRoot(const std::string& name);
  // The document as text: exactly as read where nothing changed (keepEverything), or indented.
  std::string Serialize(bool raw) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora::platform

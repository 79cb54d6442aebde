#include "platform/XmlDocument.h"

#include <pugixml.hpp>
#include <sstream>

namespace velmora::platform {

namespace {
pugi::xml_node Node(pugi::xml_node_struct* raw) { return pugi::xml_node(raw); }
}  // namespace

bool XmlNode::IsElement() const { return Node(node_).type() == pugi::node_element; }

std::string XmlNode::Name() const { return Node(node_).name(); }

XmlNode XmlNode::FirstChild() const { return XmlNode(Node(node_).first_child().internal_object()); }

XmlNode XmlNode::NextSibling() const {
  return XmlNode(Node(node_).next_sibling().internal_object());
}

XmlNode XmlNode::FirstElementChild() const {
  for (auto child = Node(node_).first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element) return XmlNode(child.internal_object());
  return XmlNode();
}

std::optional<std::string> XmlNode::Attribute(const std::string& name) const {
  auto attribute = Node(node_).attribute(name.c_str());
  if (!attribute) return std::nullopt;
  return std::string(attribute.value());
}

std::string XmlNode::AttributeOrEmpty(const std::string& name) const {
  return Attribute(name).value_or(std::string());
}

void XmlNode::SetAttribute(const std::string& name, const std::string& value) {
  auto node = Node(node_);
  auto attribute = node.attribute(name.c_str());
  if (!attribute) attribute = node.append_attribute(name.c_str());
  attribute.set_value(value.c_str());
}

XmlNode XmlNode::AppendElement(const std::string& name) {
  return XmlNode(Node(node_).append_child(name.c_str()).internal_object());
}

struct XmlDocument::Impl {
  pugi::xml_document document;
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

XmlParseResult XmlDocument::Parse(const std::string& text, bool keepEverything) {
  unsigned options = keepEverything ? (pugi::parse_full & ~pugi::parse_eol) : pugi::parse_default;
  auto result = impl_->document.load_buffer(text.data(), text.size(), options);
  XmlParseResult outcome;
  outcome.ok = static_cast<bool>(result);
  if (!outcome.ok) outcome.description = result.description();
  return outcome;
}

XmlNode XmlDocument::Root() const {
  return XmlNode(impl_->document.document_element().internal_object());
}

XmlNode XmlDocument::AppendRoot(const std::string& name) {
  return XmlNode(impl_->document.append_child(name.c_str()).internal_object());
}

std::string XmlDocument::Serialize(bool raw) const {
  std::ostringstream out;
  if (raw)
    impl_->document.save(out, "", pugi::format_raw | pugi::format_no_declaration);
  else
    impl_->document.save(out, "  ", pugi::format_indent);
  return out.str();
}

}  // namespace velmora::platform

#include "platform/XmlDocument.h"

#include <pugixml.hpp>
#include <cstdint>
#include <sstream>
#include <utility>
#include <vector>

namespace velmora::platform {

namespace {

pugi::xml_node Node(pugi::xml_node_struct* raw) { return pugi::xml_node(raw); }

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool BeginsWithByteOrderMark(const std::string& text) {
  auto starts = [&](const char* mark, size_t length) {
    return text.size() >= length && text.compare(0, length, mark, length) == 0;
  };
  return starts("\xEF\xBB\xBF", 3) || starts("\xFE\xFF", 2) || starts("\xFF\xFE", 2) ||
         starts("\0\0\xFE\xFF", 4);
}

// The parser keeps no text outside the root element, so the line breaks and indentation around
// the declaration, comments and the root would vanish on writing. Put them back as text nodes,
// taken from the original bytes in front of each node and at the end of the document.
void RestoreDocumentLevelWhiteSpace(pugi::xml_document& document, const std::string& text,
                                    bool offsetsMatchText) {
  std::vector<std::pair<pugi::xml_node, std::string>> leading;
  for (auto child = document.first_child(); child; child = child.next_sibling()) {
    std::string space;
    ptrdiff_t offset = offsetsMatchText ? child.offset_debug() : -1;
    if (offset > 0 && static_cast<size_t>(offset) <= text.size()) {
      // The offset points at the node's name or value; its markup begins at the '<' before.
      size_t start = text.rfind('<', static_cast<size_t>(offset) - 1);
      size_t end = start == std::string::npos ? 0 : start;
      size_t begin = end;
      while (begin > 0 && IsXmlSpace(text[begin - 1])) --begin;
      space = text.substr(begin, end - begin);
    } else if (child != document.first_child()) {
      // Text the parser converted from another encoding has other offsets: one line a node.
      space = "\n";
    }
    if (!space.empty()) leading.emplace_back(child, std::move(space));
  }
  for (auto& [child, space] : leading)
    document.insert_child_before(pugi::node_pcdata, child).set_value(space.c_str());

  size_t end = text.size();
  size_t begin = end;
  if (offsetsMatchText) {
    while (begin > 0 && IsXmlSpace(text[begin - 1])) --begin;
  }
  std::string trailing = offsetsMatchText ? text.substr(begin) : std::string("\n");
  if (!trailing.empty() && document.first_child())
    document.append_child(pugi::node_pcdata).set_value(trailing.c_str());
}

// Whether the document's first node has text other than white space in front of it. pugixml
// drops such text without a word, though XML allows none; a rewrite without it could read
// differently, as a declaration behind it takes effect once it stands at the start. Needs a
// document that keeps every node, so that the first node is what stands first in the text.
bool HasTextInFront(const pugi::xml_document& document, const std::string& text) {
  auto first = document.first_child();
  ptrdiff_t offset = first ? first.offset_debug() : -1;
  if (offset <= 0 || static_cast<size_t>(offset) > text.size()) return false;
  size_t start = text.rfind('<', static_cast<size_t>(offset) - 1);
  if (start == std::string::npos) return false;
  size_t begin = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (size_t i = begin; i < start; ++i)
    if (!IsXmlSpace(text[i])) return true;
  return false;
}

// Whether `text` is well-formed UTF-8 of code points up to `largest`.
bool IsUtf8UpTo(std::string_view text, uint32_t largest) {
  static constexpr uint32_t kSmallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};
  for (size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                                : lead >= 0xE0 && lead <= 0xEF   ? 3
                                : lead >= 0xF0 && lead <= 0xF4   ? 4
                                                                 : 0;
    if (length == 0 || i + length > text.size()) return false;
    uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    if (point < kSmallestOfLength[length] || point > 0x10FFFF || point > largest ||
        (point >= 0xD800 && point <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

}  // namespace

bool XmlNode::IsElement() const { return Node(node_).type() == pugi::node_element; }

bool XmlNode::IsText() const { return Node(node_).type() == pugi::node_pcdata; }

std::string XmlNode::Name() const { return Node(node_).name(); }

std::string XmlNode::Text() const { return Node(node_).value(); }

XmlNode XmlNode::FirstChild() const { return XmlNode(Node(node_).first_child().internal_object()); }

XmlNode XmlNode::LastChild() const { return XmlNode(Node(node_).last_child().internal_object()); }

XmlNode XmlNode::NextSibling() const {
  return XmlNode(Node(node_).next_sibling().internal_object());
}

XmlNode XmlNode::PreviousSibling() const {
  return XmlNode(Node(node_).previous_sibling().internal_object());
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

XmlNode XmlNode::InsertElementBefore(const std::string& name, XmlNode before) {
  return XmlNode(Node(node_).insert_child_before(name.c_str(), Node(before.node_)).internal_object());
}

XmlNode XmlNode::InsertTextBefore(const std::string& text, XmlNode before) {
  auto node = Node(node_).insert_child_before(pugi::node_pcdata, Node(before.node_));
  node.set_value(text.c_str());
  return XmlNode(node.internal_object());
}

struct XmlDocument::Impl {
  pugi::xml_document document;
  pugi::xml_encoding encoding = pugi::encoding_utf8;
  bool byteOrderMark = false;
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

XmlParseResult XmlDocument::Parse(const std::string& text, bool keepEverything) {
  // Keeping line ends as written (no parse_eol) lets a file with CR LF lines stay so.
  unsigned options = keepEverything
                         ? ((pugi::parse_full | pugi::parse_ws_pcdata) & ~pugi::parse_eol)
                         : pugi::parse_default;
  auto result = impl_->document.load_buffer(text.data(), text.size(), options);
  XmlParseResult outcome;
  outcome.ok = static_cast<bool>(result);
  if (!outcome.ok) {
    outcome.description = result.description();
    return outcome;
  }
  // Written back in the encoding it came in, with its byte order mark if it had one.
  impl_->encoding = result.encoding;
  impl_->byteOrderMark = BeginsWithByteOrderMark(text);
  bool offsetsMatchText = result.encoding == pugi::encoding_utf8;
  if (keepEverything && offsetsMatchText && HasTextInFront(impl_->document, text)) {
    impl_->document.reset();
    return {false, "Text in front of the first node"};
  }
  if (keepEverything) RestoreDocumentLevelWhiteSpace(impl_->document, text, offsetsMatchText);
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
  if (raw) {
    unsigned flags = pugi::format_raw | pugi::format_no_declaration;
    if (impl_->byteOrderMark) flags |= pugi::format_write_bom;
    impl_->document.save(out, "", flags, impl_->encoding);
  } else {
    impl_->document.save(out, "  ", pugi::format_indent);
  }
  return out.str();
}

bool XmlDocument::Carries(std::string_view text) const {
  if (text.find('\0') != std::string_view::npos) return false;
  switch (impl_->encoding) {
    case pugi::encoding_utf8: return true;
    case pugi::encoding_latin1: return IsUtf8UpTo(text, 0xFF);
    default: return IsUtf8UpTo(text, 0x10FFFF);
  }
}

}  // namespace velmora::platform

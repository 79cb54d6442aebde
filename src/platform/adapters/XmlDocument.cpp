#include "platform/adapters/XmlDocument.h"

#include <pugixml.hpp>
#include <cstdint>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/adapters/XmlWellFormedness.h"

namespace velmora::platform {

namespace {

pugi::xml_node Node(pugi::xml_node_struct* raw) { return pugi::xml_node(raw); }

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool BeginsWithByteOrderMark(const std::string& text) {
  auto starts = [&](const char* mark, size_t length) {
    return text.size() >= length && text.compare(0, length, mark, length) == 0;
  };
  return starts("\xEF\xBB\xBF", 3) || starts("\xFE\xFF", 2) || starts("\xFF\xFE", 2);
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
      space = '\n';
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

bool IsXmlCharacter(uint32_t point) {
  return point == 0x9 || point == 0xA || point == 0xD || (point >= 0x20 && point <= 0xD7FF) ||
         (point >= 0xE000 && point <= 0xFFFD) || (point >= 0x10000 && point <= 0x10FFFF);
}

// Whether `text` is well-formed UTF-8 of characters XML holds, up to `largest`.
bool IsXmlUtf8UpTo(std::string_view text, uint32_t largest) {
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
    if (point < kSmallestOfLength[length] || point > largest || !IsXmlCharacter(point))
      return false;
    i += length;
  }
  return true;
}

pugi::xml_encoding PugiEncoding(XmlEncoding encoding) {
  switch (encoding) {
    case XmlEncoding::kLatin1: return pugi::encoding_latin1;
    case XmlEncoding::kUtf16LittleEndian: return pugi::encoding_utf16_le;
    case XmlEncoding::kUtf16BigEndian: return pugi::encoding_utf16_be;
    default: return pugi::encoding_utf8;  // US-ASCII is UTF-8 that keeps to the first 128
  }
}

uint32_t LargestCharacter(XmlEncoding encoding) {
  switch (encoding) {
    case XmlEncoding::kAscii: return 0x7F;
    case XmlEncoding::kLatin1: return 0xFF;
    default: return 0x10FFFF;
  }
}

// Whether every name and value in the document (elements, attributes, text, comments) is made
// of characters XML holds, up to `largest`. A character reference can put any character into a
// file of a small encoding, and the writer cannot put it back: a Latin-1 file would get "?", an
// ASCII file bytes it may not hold. In any encoding, a character XML forbids that slipped past
// the well-formedness check would be written as a reference XML forbids as well. Walks without
// recursion, as documents nest as deep as their authors like.
bool AllUpTo(const pugi::xml_document& document, uint32_t largest) {
  auto fits = [&](const char* text) { return IsXmlUtf8UpTo(text, largest); };
  for (pugi::xml_node node = document.first_child(); node;) {
    if (!fits(node.name()) || !fits(node.value())) return false;
    for (auto attribute : node.attributes())
      if (!fits(attribute.name()) || !fits(attribute.value())) return false;
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node && !node.next_sibling()) node = node.parent();
    if (node) node = node.next_sibling();
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
  XmlEncoding encoding = XmlEncoding::kUtf8;
  bool byteOrderMark = false;
  // Whether the document's encoding can hold everything the document holds.
  bool writableAsRead = true;
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}
XmlDocument::~XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;

XmlParseResult XmlDocument::Parse(const std::string& text, bool keepEverything) {
  // The model below forgives much that XML forbids (two root elements, a repeated attribute,
  // an undeclared entity left as text); a conforming parser decides what is a document, and
  // how its bytes are encoded, so that the two read the same characters.
  auto verdict = CheckXmlWellFormed(text);
  if (!verdict.ok) return {false, verdict.message, verdict.line, verdict.column};
  // Keeping line ends as written (no parse_eol) lets a file with CR LF lines stay so.
  unsigned options = keepEverything
                         ? ((pugi::parse_full | pugi::parse_ws_pcdata) & ~pugi::parse_eol)
                         : pugi::parse_default;
  auto result = impl_->document.load_buffer(text.data(), text.size(), options,
                                            PugiEncoding(verdict.encoding));
  if (!result) return {false, result.description()};
  // Written back in the encoding it came in, with its byte order mark if it had one.
  impl_->encoding = verdict.encoding;
  impl_->byteOrderMark = BeginsWithByteOrderMark(text);
  impl_->writableAsRead = AllUpTo(impl_->document, LargestCharacter(verdict.encoding));
  if (keepEverything)
    RestoreDocumentLevelWhiteSpace(impl_->document, text,
                                   PugiEncoding(verdict.encoding) == pugi::encoding_utf8);
  return {true, {}};
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
    impl_->document.save(out, "", flags, PugiEncoding(impl_->encoding));
  } else {
    impl_->document.save(out, "  ", pugi::format_indent);
  }
  return out.str();
}

bool XmlDocument::Carries(std::string_view text) const {
  return impl_->writableAsRead && IsXmlUtf8UpTo(text, LargestCharacter(impl_->encoding));
}

}  // namespace velmora::platform

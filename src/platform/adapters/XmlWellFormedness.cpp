#include "platform/adapters/XmlWellFormedness.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace velmora::platform {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

struct Reading {
  XML_Parser parser;
  std::string_view text;
  std::string declaredEncoding;
  std::string refusal;  // why a handler stopped the parser
};

void Refuse(Reading& reading, std::string why) {
  if (reading.refusal.empty()) reading.refusal = std::move(why);
  XML_StopParser(reading.parser, XML_FALSE);
}

void XMLCALL OnDeclaration(void* data, const XML_Char*, const XML_Char* encoding, int) {
  auto& reading = *static_cast<Reading*>(data);
  if (encoding == nullptr) return;
  reading.declaredEncoding = encoding;
  // The parser lets the declaration overrule a UTF-8 byte order mark; the mark is what the
  // document model goes by, so the two would read different text.
  if (reading.text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark &&
      !EqualsIgnoringCase(reading.declaredEncoding, "UTF-8"))
    Refuse(reading, XML_ErrorString(XML_ERROR_INCORRECT_ENCODING));
}

void XMLCALL OnEntityDeclaration(void* data, const XML_Char*, int isParameterEntity,
                                 const XML_Char*, int, const XML_Char*, const XML_Char*,
                                 const XML_Char*, const XML_Char*) {
  if (!isParameterEntity) Refuse(*static_cast<Reading*>(data), "entity declaration not supported");
}

// A document type kept in another file (or brought in by a parameter entity) may declare
// entities the document uses; nobody reads it, so such a document, unless it says it stands
// alone, is refused, and every entity it uses must then be declared where the parser sees it.
int XMLCALL OnNotStandalone(void*) { return XML_STATUS_ERROR; }

// How the parser read the bytes: UTF-16 by its byte order mark or by a first "<" of two bytes,
// else the declared encoding (the parser knows no others), else UTF-8.
XmlEncoding EncodingOf(std::string_view text, const std::string& declared) {
  auto startsWith = [&](std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; };
  using namespace std::string_view_literals;
  if (startsWith("\xFF\xFE"sv) || startsWith("<\0"sv)) return XmlEncoding::kUtf16LittleEndian;
  if (startsWith("\xFE\xFF"sv) || startsWith("\0<"sv)) return XmlEncoding::kUtf16BigEndian;
  if (EqualsIgnoringCase(declared, "ISO-8859-1")) return XmlEncoding::kLatin1;
  if (EqualsIgnoringCase(declared, "US-ASCII")) return XmlEncoding::kAscii;
  return XmlEncoding::kUtf8;
}

// Whether UTF-16 `text` holds a surrogate out of its pair. The parser refuses a low surrogate
// alone, but takes a high surrogate and whatever unit follows it as one character without asking
// whether that unit is a low surrogate: the unit after a lone high surrogate, be it a control
// character, a quote or a "<", would pass as part of it, while the document model drops the
// surrogate and reads the unit as itself, so the two would read different documents.
bool HoldsLoneSurrogate(std::string_view text, bool bigEndian) {
  bool lowDue = false;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    auto first = static_cast<unsigned char>(text[i]);
    auto second = static_cast<unsigned char>(text[i + 1]);
    unsigned unit = bigEndian ? first << 8 | second : second << 8 | first;
    bool low = unit >= 0xDC00 && unit <= 0xDFFF;
    if (low != lowDue) return true;
    lowDue = unit >= 0xD800 && unit <= 0xDBFF;
  }
  return lowDue;
}

}  // namespace

XmlWellFormedness CheckXmlWellFormed(std::string_view text) {
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                      &XML_ParserFree);
  if (!parser) return {false, XML_ErrorString(XML_ERROR_NO_MEMORY)};
  Reading reading{parser.get(), text, {}, {}};
  XML_SetUserData(parser.get(), &reading);
  XML_SetXmlDeclHandler(parser.get(), OnDeclaration);
  XML_SetEntityDeclHandler(parser.get(), OnEntityDeclaration);
  XML_SetNotStandaloneHandler(parser.get(), OnNotStandalone);

  // The parser takes its input in pieces whose length fits an int.
  constexpr size_t kPiece = 1 << 20;
  for (size_t at = 0;;) {
    size_t piece = std::min(kPiece, text.size() - at);
    bool last = at + piece == text.size();
    if (XML_Parse(parser.get(), text.data() + at, static_cast<int>(piece), last) !=
        XML_STATUS_OK) {
      XmlWellFormedness refused{false, reading.refusal};
      if (refused.message.empty()) refused.message = XML_ErrorString(XML_GetErrorCode(parser.get()));
      // The parser counts lines from 1 and columns from 0.
      refused.line = XML_GetCurrentLineNumber(parser.get());
      refused.column = XML_GetCurrentColumnNumber(parser.get()) + 1;
      return refused;
    }
    if (last) break;
    at += piece;
  }
  XmlEncoding encoding = EncodingOf(text, reading.declaredEncoding);
  bool utf16 =
      encoding == XmlEncoding::kUtf16LittleEndian || encoding == XmlEncoding::kUtf16BigEndian;
  if (utf16 && HoldsLoneSurrogate(text, encoding == XmlEncoding::kUtf16BigEndian))
    return {false, XML_ErrorString(XML_ERROR_INVALID_TOKEN)};
  return {true, {}, encoding};
}

}  // namespace velmora::platform

#pragma once
// The verdict of a conforming XML 1.0 parser (expat) on a document. The document model keeps
// files as their authors laid them out but forgives what XML forbids; this says what XML allows.
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::platform {

// The character encodings a document may be written in.
enum class XmlEncoding { kUtf8, kAscii, kLatin1, kUtf16LittleEndian, kUtf16BigEndian };

struct XmlWellFormedness {
  bool ok = false;
  std::string message;                        // the parser's own words when not ok
  XmlEncoding encoding = XmlEncoding::kUtf8;  // when ok: how the document's bytes are read
  // When not ok: where the parser stopped, counted from 1; 0 when it cannot say.
  uint64_t line = 0;
  uint64_t column = 0;
};

// Whether `text` is a well-formed XML 1.0 document in UTF-8, UTF-16 (with a byte order mark or
// starting with "<"), or the ISO-8859-1 or US-ASCII its declaration names. Beyond XML, it refuses
// what readers of these files would read otherwise than XML means: a declared entity, as they
// leave its references unexpanded, and a document type kept in another file (unless the document
// declares itself standalone), as nobody reads that file and its entities would go unnoticed.
XmlWellFormedness CheckXmlWellFormed(std::string_view text);

}  // namespace velmora::platform

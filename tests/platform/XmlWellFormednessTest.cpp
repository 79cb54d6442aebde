#include <gtest/gtest.h>

#include "platform/adapters/XmlWellFormedness.h"

namespace velmora::platform {
namespace {

std::string Utf16(std::u16string_view units, bool bigEndian) {
  std::string wide;
  for (char16_t unit : units) {
    char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    wide += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return wide;
}

// Each of these once loaded, read in some way of the document model's own choosing.
TEST(XmlWellFormedness, WhatXmlForbidsIsRefusedInTheParsersWords) {
  struct Case {
    std::string text;
    std::string message;
  };
  for (const Case& c : {
           Case{"<n a=\"old\" a=\"new\"/>", "duplicate attribute"},
           Case{"<n/><m/>", "junk after document element"},
           Case{"<n a=\"<\"/>", "not well-formed (invalid token)"},
           Case{"<n a=\"Undeclared&team;\"/>", "undefined entity"},
           Case{"<!DOCTYPE n SYSTEM \"n.dtd\"><n a=\"&team;\"/>", "document is not standalone"},
           Case{"<!DOCTYPE n [<!ENTITY team \"X\">]><n a=\"&team;\"/>",
                "entity declaration not supported"},
           Case{"<n a=\"&#1;\"/>", "reference to invalid character number"},
           Case{"<n a=\"&#x1B;\"/>", "reference to invalid character number"},
           Case{"<n a=\"\xFF\"/>", "not well-formed (invalid token)"},
           Case{"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><n a=\"\xC3\xA9\"/>",
                "not well-formed (invalid token)"},
           Case{"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><n/>",
                "encoding specified in XML declaration is incorrect"},
           Case{"<?xml version=\"1.0\" encoding=\"windows-1252\"?><n/>", "unknown encoding"},
           Case{"", "no element found"},
       }) {
    auto verdict = CheckXmlWellFormed(c.text);
    EXPECT_FALSE(verdict.ok) << c.text;
    EXPECT_EQ(verdict.message, c.message) << c.text;
  }
}

TEST(XmlWellFormedness, TellsTheEncodingTheBytesAreReadIn) {
  struct Case {
    std::string text;
    XmlEncoding encoding;
  };
  for (const Case& c : {
           Case{"<n a=\"Caf\xC3\xA9\"/>", XmlEncoding::kUtf8},
           Case{"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><n/>", XmlEncoding::kUtf8},
           Case{"<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><n a=\"Caf\xE9\"/>",
                XmlEncoding::kLatin1},
           Case{"<?xml version=\"1.0\" encoding=\"US-ASCII\"?><n a=\"&#xE9;\"/>",
                XmlEncoding::kAscii},
           Case{"\xFF\xFE" + Utf16(u"<n a=\"x\"/>", false), XmlEncoding::kUtf16LittleEndian},
           Case{Utf16(u"<n a=\"x\"/>", true), XmlEncoding::kUtf16BigEndian},
       }) {
    auto verdict = CheckXmlWellFormed(c.text);
    EXPECT_TRUE(verdict.ok) << c.text << ": " << verdict.message;
    EXPECT_EQ(verdict.encoding, c.encoding) << c.text;
  }
}

// The parser takes a high surrogate and any unit after it (even the closing quote) as one
// character, where the document model would drop the surrogate and read the unit.
TEST(XmlWellFormedness, Utf16SurrogatesComeInPairs) {
  for (bool bigEndian : {false, true}) {
    auto withValue = [&](std::u16string_view value) {
      return Utf16(u"\xFEFF<n a=\"" + std::u16string(value) + u"\"/>", bigEndian);
    };
    for (std::u16string_view pair : {u"\xD800\xDC00", u"\xDBFF\xDFFF"}) {
      auto verdict = CheckXmlWellFormed(withValue(pair));
      EXPECT_TRUE(verdict.ok) << bigEndian << ": " << verdict.message;
    }
    for (std::u16string_view lone : {u"\xD800\x0007", u"\xDBFF\"", u"x\xDC00", u"\xDFFF\xD800"}) {
      auto verdict = CheckXmlWellFormed(withValue(lone));
      EXPECT_FALSE(verdict.ok) << bigEndian << " " << int{lone[0]} << " " << int{lone[1]};
      EXPECT_EQ(verdict.message, "not well-formed (invalid token)");
    }
  }
}

}  // namespace
}  // namespace velmora::platform

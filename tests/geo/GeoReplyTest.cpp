#include <gtest/gtest.h>

#include "geo/GeoReply.h"

namespace velmora {
namespace {

std::string Meta(const std::string& key, const std::string& value) {
  return "<meta name=\"" + key + "\" content=\"" + value + "\">";
}

TEST(GeoReply, ReadsTheFiveFieldsFromMetaLines) {
  auto fields = ParseGeoReply("<html>\r\n<head>\r\n" + Meta("country", "France") + "\r\n" +
                              Meta("regioncode", "IDF") + "\r\n" + Meta("city", "Paris") +
                              "\r\n" + Meta("cityid", "75001") + "\r\n" +
                              Meta("timezone", "+01:00") + "\r\n" + Meta("isp", "x") +
                              "\r\n</head>\r\n");
  EXPECT_EQ(fields.Country, "France");
  EXPECT_EQ(fields.State, "IDF");
  EXPECT_EQ(fields.City, "Paris");
  EXPECT_EQ(fields.Zip, "75001");
  EXPECT_EQ(fields.TimeZone, "+01:00");
}

TEST(GeoReply, PutsAZeroBeforeFourCharacterCityCodesOnly) {
  EXPECT_EQ(ParseGeoReply(Meta("cityid", "1234")).Zip, "01234");
  EXPECT_EQ(ParseGeoReply(Meta("cityid", "123")).Zip, "123");
  EXPECT_EQ(ParseGeoReply(Meta("cityid", "12345")).Zip, "12345");
  EXPECT_EQ(ParseGeoReply(Meta("cityid", "")).Zip, "");
}

TEST(GeoReply, ComparesKeysAndTheElementNameWithoutCase) {
  auto fields = ParseGeoReply("<META name=\"COUNTRY\" content=\"Peru\">\r\n" +
                              Meta("TimeZone", "-05:00"));
  EXPECT_EQ(fields.Country, "Peru");
  EXPECT_EQ(fields.TimeZone, "-05:00");
}

TEST(GeoReply, SpaceIndentHidesALineButTabIndentDoesNot) {
  EXPECT_FALSE(ParseGeoReply("  " + Meta("country", "Chile")).Country);
  EXPECT_EQ(ParseGeoReply("\t\t" + Meta("country", "Chile")).Country, "Chile");
  // Only what stands before the first space counts as the element name.
  EXPECT_FALSE(ParseGeoReply("<metadata name=\"country\" content=\"Chile\">").Country);
  EXPECT_EQ(ParseGeoReply("<meta\t name=\"city\" content=\"Lima\">").City, "Lima");
}

TEST(GeoReply, TakesTheValueToTheEndOfTheLineAfterAThirdQuote) {
  EXPECT_EQ(ParseGeoReply("<meta name=\"city\" content=\"Rio de Janeiro>").City,
            "Rio de Janeiro>");
  EXPECT_EQ(ParseGeoReply("<meta name=\"city\" content=\"\"").City, "");
  // Two quotes are not enough, and text after a fourth quote is not part of the value.
  EXPECT_FALSE(ParseGeoReply("<meta name=\"city\" content=Lima>").City);
  EXPECT_EQ(ParseGeoReply("<meta name=\"city\" content=\"Lima\" \"x\">").City, "Lima");
}

TEST(GeoReply, SplitsOnlyAtCrLfSoBareLineFeedsMakeOneLine) {
  auto bare = ParseGeoReply(Meta("country", "Spain") + "\n" + Meta("city", "Madrid") + "\n");
  EXPECT_EQ(bare.Country, "Spain");
  EXPECT_FALSE(bare.City);
  // Not at the start: nothing is read at all.
  EXPECT_FALSE(ParseGeoReply("<html>\n" + Meta("country", "Spain")).Country);
  auto crlf = ParseGeoReply(Meta("country", "Spain") + "\r\n" + Meta("city", "Madrid"));
  EXPECT_EQ(crlf.City, "Madrid");
}

TEST(GeoReply, LaterLinesOverwriteAndMissingKeysStayEmpty) {
  auto fields = ParseGeoReply(Meta("city", "Bonn") + "\r\n" + Meta("city", "Köln"));
  EXPECT_EQ(fields.City, "Köln");
  EXPECT_FALSE(fields.Country);
  EXPECT_FALSE(fields.Zip);

  auto empty = ParseGeoReply("");
  EXPECT_FALSE(empty.Country || empty.State || empty.City || empty.Zip || empty.TimeZone);
  auto other = ParseGeoReply("country=France\r\n<p>city: Paris</p>\r\n");
  EXPECT_FALSE(other.Country || other.City);
}

}  // namespace
}  // namespace velmora

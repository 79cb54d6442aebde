#include <gtest/gtest.h>

#include <limits>

#include "base/NumberText.h"

namespace velmora {
namespace {

TEST(NumberText, ReadsTheLeadingDecimalNumber) {
  EXPECT_EQ(ReadNumber("10.9"), 10.9);
  EXPECT_EQ(ReadNumber("-3.5xyz"), -3.5);
  EXPECT_EQ(ReadNumber("+7"), 7);
  EXPECT_EQ(ReadNumber(".5"), 0.5);
  EXPECT_EQ(ReadNumber("1e3"), 1000);
  EXPECT_EQ(ReadNumber("2e"), 2);  // an exponent without digits is not part of the number
  EXPECT_EQ(ReadNumber("5."), 5);
}

TEST(NumberText, TextThatDoesNotBeginWithANumberReadsAsZero) {
  for (const char* text : {"", "yes", "true", " 5", "-", ".", "e5", "inf", "nan", "0x10"})
    EXPECT_EQ(ReadNumber(text), 0) << text;
  EXPECT_EQ(ReadInteger("0x10"), 0);
  EXPECT_FALSE(BeginsWithNumber("x3"));
  EXPECT_TRUE(BeginsWithNumber("3x"));
}

TEST(NumberText, IntegersTruncateTowardZeroAndSaturate) {
  EXPECT_EQ(ReadInteger("10.9"), 10);
  EXPECT_EQ(ReadInteger("-3.5"), -3);
  EXPECT_EQ(ReadInteger("2.9"), 2);
  EXPECT_EQ(ReadInteger("9007199254740993"), 9007199254740993LL);  // no double rounding
  EXPECT_EQ(ReadInteger("99999999999999999999"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ReadInteger("-99999999999999999999"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ReadInteger("1e400"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(ReadInteger("-1e400"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(ReadInteger("1e-400"), 0);
}

TEST(NumberText, FlagsOfFilesAndPayloads) {
  EXPECT_TRUE(ReadFileFlag("1"));
  EXPECT_TRUE(ReadFileFlag("1.0"));
  EXPECT_TRUE(ReadFileFlag("01"));
  for (const char* text : {"0", "2", "", "true", "yes"}) EXPECT_FALSE(ReadFileFlag(text)) << text;
  EXPECT_TRUE(ReadPayloadFlag("2"));
  EXPECT_TRUE(ReadPayloadFlag("0.5"));
  EXPECT_FALSE(ReadPayloadFlag("yes"));
  EXPECT_FALSE(ReadPayloadFlag("-1"));
}

}  // namespace
}  // namespace velmora

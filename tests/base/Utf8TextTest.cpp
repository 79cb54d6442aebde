#include "base/Utf8Text.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

TEST(ValidUtf8, KeepsWellFormedSequencesAndReplacesEveryOtherByte) {
  const std::string replacement = "\xEF\xBF\xBD";
  const std::vector<std::string> kept = {"plain", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x97\xBA",
                                         "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF", std::string("a\0b", 3)};
  for (auto& text : kept) EXPECT_EQ(ValidUtf8(text), text);
  EXPECT_EQ(ValidUtf8("Bj\xF6rn"), "Bj" + replacement + "rn");
  EXPECT_EQ(ValidUtf8("\xC0\xAF"), replacement + replacement) << "overlong";
  EXPECT_EQ(ValidUtf8("\xE0\x9F\xBF"), replacement + replacement + replacement) << "overlong";
  EXPECT_EQ(ValidUtf8("\xED\xA0\x80"), replacement + replacement + replacement) << "surrogate";
  EXPECT_EQ(ValidUtf8("\xF4\x90\x80\x80").size(), 4 * replacement.size()) << "past U+10FFFF";
  EXPECT_EQ(ValidUtf8("x\xE2\x82"), "x" + replacement + replacement) << "cut short";
}

}  // namespace
}  // namespace velmora

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/adapters/JsonFields.h"
#include "platform/adapters/JsonWriter.h"

namespace velmora::platform {
namespace {

TEST(JsonWriter, WritesValidJsonWhateverBytesTheTextsHold) {
  JsonWriter out;
  out.BeginObject()
      .Field("name", "A\"n\\n\n\x01")
      .Field("latin1", "Bj\xF6rn")
      .Field("n", int64_t{-5})
      .Field("big", uint64_t{18446744073709551615u})
      .Field("yes", true)
      .Key("list")
      .BeginArray()
      .BeginObject()
      .EndObject()
      .String("x")
      .EndArray()
      .EndObject();
  auto parsed = nlohmann::json::parse(out.Text());
  EXPECT_EQ(parsed["name"], "A\"n\\n\n\x01");
  EXPECT_EQ(parsed["latin1"], "Bj\xEF\xBF\xBDrn");
  EXPECT_EQ(parsed["n"], -5);
  EXPECT_EQ(parsed["big"].get<uint64_t>(), 18446744073709551615u);
  EXPECT_EQ(parsed["yes"], true);
  EXPECT_EQ(parsed["list"].dump(), R"([{},"x"])");
}

TEST(JsonFields, ReadsOneFlatObjectAndNothingElse) {
  auto fields = JsonFields::Parse(R"({"user":"Ann","id":7,"on":true,"user":"Bob"})");
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->Text("user"), "Bob");
  EXPECT_EQ(fields->Integer("id"), 7);
  EXPECT_EQ(fields->Booleans.at("on"), true);
  EXPECT_EQ(fields->Text("id"), std::nullopt);
  EXPECT_TRUE(JsonFields::Parse("{}"));

  for (const char* refused :
       {R"({"a":{"b":1}})", R"({"a":[1]})", R"({"a":1.5})", R"({"a":null})", R"("text")", "[]",
        "", "{", R"({"a":1} x)", "{\"a\":\"\xFF\"}", R"({"a":9223372036854775808})"})
    EXPECT_FALSE(JsonFields::Parse(refused)) << refused;
  EXPECT_EQ(JsonFields::Parse(R"({"a":-9223372036854775808})")->Integer("a"), INT64_MIN);
  // Deep nesting is refused at its first level, without recursion.
  EXPECT_FALSE(JsonFields::Parse(R"({"a":)" + std::string(100000, '[')));
}

}  // namespace
}  // namespace velmora::platform

#pragma once
// Writes JSON text piece by piece. Texts are byte strings with no character set of their own:
// valid UTF-8 passes through, and any other byte sequence is written as U+FFFD, so the output is
// always valid JSON whatever a client named itself.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The name of the next member of the open object.
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  JsonWriter& Integer(int64_t number);
  JsonWriter& Unsigned(uint64_t number);
  JsonWriter& Boolean(bool value);

  // A member of the open object: Key and the value in one.
  JsonWriter& Field(std::string_view name, std::string_view text) { return Key(name).String(text); }
  JsonWriter& Field(std::string_view name, const char* text) { return Key(name).String(text); }
  JsonWriter& Field(std::string_view name, int64_t number) { return Key(name).Integer(number); }
  JsonWriter& Field(std::string_view name, uint64_t number) { return Key(name).Unsigned(number); }
  JsonWriter& Field(std::string_view name, bool value) { return Key(name).Boolean(value); }

  const std::string& Text() const { return out_; }

 private:
  // The comma between values, where one is due.
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);

  std::string out_;
  // One entry per open object or array: whether it has no value yet.
  std::vector<bool> empty_;
  bool afterKey_ = false;
};

}  // namespace velmora::platform

#include "platform/adapters/JsonFields.h"

#include <nlohmann/json.hpp>

namespace velmora::platform {

namespace {

using Json = nlohmann::json;

// Reads one object level and refuses everything that would open another.
class FlatObjectReader : public nlohmann::json_sax<Json> {
 public:
  explicit FlatObjectReader(JsonFields& fields) : fields_(fields) {}

  bool null() override { return false; }
  bool boolean(bool value) override { return Store(fields_.Booleans, value); }
  bool number_integer(number_integer_t value) override {
    return Store(fields_.Integers, static_cast<int64_t>(value));
  }
  bool number_unsigned(number_unsigned_t value) override {
    if (value > static_cast<uint64_t>(INT64_MAX)) return false;
    return Store(fields_.Integers, static_cast<int64_t>(value));
  }
  bool number_float(number_float_t, const string_t&) override { return false; }
  bool string(string_t& value) override { return Store(fields_.Texts, std::move(value)); }
  bool binary(binary_t&) override { return false; }
  bool start_object(std::size_t) override {
    if (opened_) return false;
    opened_ = true;
    return true;
  }
  bool key(string_t& name) override {
    key_ = std::move(name);
    return true;
  }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return false; }
  bool end_array() override { return false; }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  template <typename Map, typename Value>
  bool Store(Map& map, Value value) {
    if (!opened_) return false;  // a bare value is not an object
    map[key_] = std::move(value);
    return true;
  }

  JsonFields& fields_;
  std::string key_;
  bool opened_ = false;
};

}  // namespace

std::optional<JsonFields> JsonFields::Parse(std::string_view text) {
  JsonFields fields;
  FlatObjectReader reader(fields);
  if (!Json::sax_parse(text.begin(), text.end(), &reader, nlohmann::detail::input_format_t::json,
                       true))
    return std::nullopt;
  return fields;
}

std::optional<std::string> JsonFields::Text(const std::string& name) const {
  auto found = Texts.find(name);
  if (found == Texts.end()) return std::nullopt;
  return found->second;
}

std::optional<int64_t> JsonFields::Integer(const std::string& name) const {
  auto found = Integers.find(name);
  if (found == Integers.end()) return std::nullopt;
  return found->second;
}

}  // namespace velmora::platform

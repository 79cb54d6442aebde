#include "platform/adapters/JsonWriter.h"

#include <nlohmann/json.hpp>

namespace velmora::platform {

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!empty_.empty()) {
    if (!empty_.back()) out_ += ',';
    empty_.back() = false;
  }
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_ += bracket;
  empty_.push_back(true);
}

void JsonWriter::Close(char bracket) {
  out_ += bracket;
  if (!empty_.empty()) empty_.pop_back();
}

JsonWriter& JsonWriter::BeginObject() {
  Open('{');
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  Close('}');
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  Open('[');
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  Close(']');
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  String(name);
  out_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  out_ += nlohmann::json(std::string(text))
              .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return *this;
}

JsonWriter& JsonWriter::Integer(int64_t number) {
  BeforeValue();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::Unsigned(uint64_t number) {
  BeforeValue();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::Boolean(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

}  // namespace velmora::platform

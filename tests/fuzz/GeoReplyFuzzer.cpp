// The geolocation reply reader. The reply is read line by line, later lines winning, so reading
// two replies joined by CR LF must give the fields of the second where it names them and those
// of the first elsewhere; a meta line appended last must give exactly its value; and no value
// ever holds a quote or a line end, nor a four-character code that lost its leading zero.
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "geo/GeoReply.h"

namespace velmora::fuzz {
namespace {

const char* const kKeys[] = {"country", "regioncode", "city", "cityid", "timezone", "CITY"};

std::optional<std::string> GeoFields::*const kFields[] = {
    &GeoFields::Country, &GeoFields::State, &GeoFields::City, &GeoFields::Zip,
    &GeoFields::TimeZone, &GeoFields::City};

std::string Show(const std::optional<std::string>& value) {
  return value ? "\"" + value->substr(0, 40) + "\"" : "none";
}

void CheckValues(const GeoFields& fields, std::string_view body) {
  for (auto field : kFields) {
    const auto& value = fields.*field;
    if (!value) continue;
    FUZZ_CHECK(value->find('"') == std::string::npos, "a value holds a quote: " + Show(value));
    FUZZ_CHECK(value->find("\r\n") == std::string::npos, "a value holds a line end");
    std::string_view raw = field == &GeoFields::Zip && value->size() == 5 && (*value)[0] == '0'
                               ? std::string_view(*value).substr(1)
                               : std::string_view(*value);
    FUZZ_CHECK(body.find(raw) != std::string_view::npos, "a value that is not in the reply");
  }
  FUZZ_CHECK(!fields.Zip || fields.Zip->size() != 4, "a four-character code: " + Show(fields.Zip));
}

}  // namespace
}  // namespace velmora::fuzz

using namespace velmora;
using namespace velmora::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader input(data, size);
  size_t key = input.Below(std::size(kKeys));
  std::string appended = input.Text(24);
  std::string first = input.Text(255);
  std::string second = input.Rest();

  GeoFields a = ParseGeoReply(first);
  GeoFields b = ParseGeoReply(second);
  std::string joined = first + "\r\n" + second;
  GeoFields both = ParseGeoReply(joined);
  CheckValues(a, first);
  CheckValues(b, second);
  CheckValues(both, joined);
  for (auto field : kFields) {
    const auto& want = (b.*field) ? b.*field : a.*field;
    FUZZ_CHECK(both.*field == want, "joined replies read " + Show(both.*field) + ", expected " +
                                        Show(want));
  }

  // A well-formed meta line after everything else decides its field.
  std::string value;
  for (char c : appended)
    if (c != '"' && c != '\r' && c != '\n') value += c;
  std::string line = std::string("<meta name=\"") + kKeys[key] + "\" content=\"" + value + "\">";
  GeoFields last = ParseGeoReply(joined + "\r\n" + line);
  std::string expected = kFields[key] == &GeoFields::Zip && value.size() == 4 ? "0" + value : value;
  FUZZ_CHECK(last.*kFields[key] == expected,
             "the line " + line + " read as " + Show(last.*kFields[key]));
  return 0;
}

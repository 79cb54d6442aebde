#pragma once
// Reading the geolocation service's reply: lines of HTML meta elements, each naming one field
// of the location by its first quoted text and giving its value in the second.
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

struct GeoFields {
  // A field whose key does not occur in the reply stays empty here, so the connection keeps
  // what it had.
  std::optional<std::string> Country;   // key "country"
  std::optional<std::string> State;     // key "regioncode"
  std::optional<std::string> City;      // key "city"
  std::optional<std::string> Zip;       // key "cityid", a 4-character code gets a leading "0"
  std::optional<std::string> TimeZone;  // key "timezone"
};

// Lines end at CR LF only; a bare line feed stays inside its line. Later lines overwrite.
GeoFields ParseGeoReply(std::string_view body);

}  // namespace velmora

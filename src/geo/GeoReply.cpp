#include "geo/GeoReply.h"

#include <cctype>
#include <vector>

namespace velmora {

namespace {

bool IsWhiteSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::vector<std::string_view> SplitAtCrLf(std::string_view body) {
  std::vector<std::string_view> lines;
  for (;;) {
    size_t end = body.find("\r\n");
    if (end == std::string_view::npos) {
      lines.push_back(body);
      return lines;
    }
    lines.push_back(body.substr(0, end));
    body.remove_prefix(end + 2);
  }
}

// The key and value of a meta line; false when the line is not one.
bool ReadMetaLine(std::string_view line, std::string_view& key, std::string_view& value) {
  // The element name is what stands before the first space, so an indent of spaces hides it
  // while an indent of tabs does not.
  if (!EqualsIgnoringCase(Trim(line.substr(0, line.find(' '))), "<meta")) return false;
  size_t quotes[4];
  size_t found = 0;
  for (size_t i = 0; i < line.size() && found < 4; ++i)
    if (line[i] == '"') quotes[found++] = i;
  if (found < 3) return false;
  key = line.substr(quotes[0] + 1, quotes[1] - quotes[0] - 1);
  size_t valueEnd = found == 4 ? quotes[3] : line.size();
  value = line.substr(quotes[2] + 1, valueEnd - quotes[2] - 1);
  return true;
}

}  // namespace

GeoFields ParseGeoReply(std::string_view body) {
  GeoFields fields;
  for (std::string_view line : SplitAtCrLf(body)) {
    std::string_view key, value;
    if (!ReadMetaLine(line, key, value)) continue;
    if (EqualsIgnoringCase(key, "country")) {
      fields.Country = std::string(value);
    } else if (EqualsIgnoringCase(key, "regioncode")) {
      fields.State = std::string(value);
    } else if (EqualsIgnoringCase(key, "city")) {
      fields.City = std::string(value);
    } else if (EqualsIgnoringCase(key, "cityid")) {
      // Codes that lost their leading zero upstream get it back.
      std::string zip(value.size() == 4 ? 1 : 0, '0');
      fields.Zip = zip.append(value);
    } else if (EqualsIgnoringCase(key, "timezone")) {
      fields.TimeZone = std::string(value);
    }
  }
  return fields;
}

}  // namespace velmora

#include "protocol/Position.h"

#include <charconv>

#include "base/NumberText.h"
#include "protocol/PayloadFields.h"

namespace velmora {

namespace {

void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

PositionReport ReadPositionReport(std::string_view payload) {
  // One walk over the payload, field by field; the number reader sees one field at a time.
  int64_t numbers[4] = {0, 0, 0, 0};
  bool flags[2] = {false, false};
  size_t start = 0;
  for (int field = 0; field < 6 && start <= payload.size(); ++field) {
    size_t end = payload.find(',', start);
    if (end == std::string_view::npos) end = payload.size();
    std::string_view text = payload.substr(start, end - start);
    if (field < 4)
      numbers[field] = ReadInteger(text);
    else
      flags[field - 4] = ReadPayloadFlag(text);
    start = end + 1;
  }
  return {numbers[0], numbers[1], numbers[2], numbers[3], flags[0], flags[1]};
}

void AppendMemberPosition(std::string& out, std::string_view name, const PositionReport& report) {
  out += name;
  out += '|';
  AppendNumber(out, report.X);
  out += ',';
  AppendNumber(out, report.Y);
  out += ',';
  AppendNumber(out, report.Facet);
  out += ',';
  AppendNumber(out, report.HP);
  out += report.InBattle ? ",1" : ",0";
  out += report.IsDead ? ",1" : ",0";
}

std::string MemberPositionText(std::string_view name, const PositionReport& report) {
  std::string text;
  text.reserve(name.size() + 48);
  AppendMemberPosition(text, name, report);
  return text;
}

std::optional<MemberPosition> ReadMemberPosition(std::string_view payload) {
  size_t bar = payload.rfind('|');
  if (bar == std::string_view::npos) return std::nullopt;
  std::string_view numbers = payload.substr(bar + 1);
  if (CountFields(numbers, ',') != 6) return std::nullopt;
  return MemberPosition{std::string(payload.substr(0, bar)), ReadPositionReport(numbers)};
}

}  // namespace velmora

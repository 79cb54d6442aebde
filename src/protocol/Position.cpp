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
  PositionReport report;
  report.X = ReadInteger(PayloadField(payload, ',', 0));
  report.Y = ReadInteger(PayloadField(payload, ',', 1));
  report.Facet = ReadInteger(PayloadField(payload, ',', 2));
  report.HP = ReadInteger(PayloadField(payload, ',', 3));
  report.InBattle = ReadPayloadFlag(PayloadField(payload, ',', 4));
  report.IsDead = ReadPayloadFlag(PayloadField(payload, ',', 5));
  return report;
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

#include "client/PositionText.h"

#include <charconv>

#include "client/ClientSocket.h"

namespace velmora {

namespace {

void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

std::string PositionText(const ClientSocket& member) {
  std::string text;
  text.reserve(member.Username.size() + 48);
  text += member.Username;
  text += '|';
  AppendNumber(text, member.X);
  text += ',';
  AppendNumber(text, member.Y);
  text += ',';
  AppendNumber(text, member.Facet);
  text += ',';
  AppendNumber(text, member.HP);
  text += member.InBattle ? ",1" : ",0";
  text += member.IsDead ? ",1" : ",0";
  return text;
}

}  // namespace velmora

#pragma once
// A member's position and state as a report carries it (X,Y,Facet,HP,InBattle,IsDead), and as
// the server relays it with the member's name in front (Name|X,Y,Facet,HP,InBattle,IsDead).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

struct PositionReport {
  int64_t X = 0;
  int64_t Y = 0;
  int64_t Facet = 0;
  int64_t HP = 0;
  bool InBattle = false;
  bool IsDead = false;

  // Only a report whose four numbers are not negative is passed on to the others.
  bool Relayable() const { return X >= 0 && Y >= 0 && Facet >= 0 && HP >= 0; }
  bool operator==(const PositionReport&) const = default;
};

// Fields are read from the left; missing ones read as 0 and false, fields after the sixth are
// ignored, numbers are cut toward zero and a flag is set when its number is above 0.
PositionReport ReadPositionReport(std::string_view payload);

// Appends Name|X,Y,Facet,HP,InBattle,IsDead to `out`.
void AppendMemberPosition(std::string& out, std::string_view name, const PositionReport& report);
std::string MemberPositionText(std::string_view name, const PositionReport& report);

struct MemberPosition {
  std::string Name;
  PositionReport Report;
};
// Reads a member position. The numbers never hold "|", so the last "|" ends the name; nothing
// when there is no "|" or not six numbers after it.
std::optional<MemberPosition> ReadMemberPosition(std::string_view payload);

}  // namespace velmora

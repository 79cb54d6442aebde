#include "host/console/ConsoleJson.h"

#include "platform/adapters/Clock.h"
#include "platform/adapters/JsonWriter.h"

namespace velmora::console {

namespace {

using platform::JsonWriter;

void Heading(JsonWriter& out, const ConsoleSnapshot& snapshot) {
  out.Field("takenAt", platform::ToIsoUtc(snapshot.TakenAt));
}

// What the page shows of a member and no more: a network of thousands polled by several pages
// makes every byte count. A place or a position that is not known is left out, not sent empty.
void Member(JsonWriter& out, const MemberView& member) {
  out.BeginObject().Field("name", member.Name).Field("address", member.Address);
  if (!member.Location.empty()) out.Field("location", member.Location);
  if (!member.Country.empty()) out.Field("country", member.Country);
  out.Field("reported", member.Reported);
  if (member.Reported)
    out.Field("x", member.Position.X)
        .Field("y", member.Position.Y)
        .Field("facet", member.Position.Facet)
        .Field("hp", member.Position.HP)
        .Field("inBattle", member.Position.InBattle)
        .Field("isDead", member.Position.IsDead);
  out.Field("connectedSince", platform::ToIsoUtc(member.ConnectedSince))
      .Field("messagesSent", member.MessagesSent)
      .EndObject();
}

}  // namespace

std::string NetworksJson(const ConsoleSnapshot& snapshot) {
  JsonWriter out;
  out.BeginObject();
  Heading(out, snapshot);
  out.Key("networks").BeginArray();
  for (auto& network : snapshot.Networks)
    out.BeginObject()
        .Field("name", network.Name)
        .Field("port", network.Port)
        .Field("enabled", network.Enabled)
        .Field("seatsUsed", network.SeatsUsed)
        .Field("capacity", network.Capacity)
        .Field("members", static_cast<uint64_t>(network.Members.size()))
        .EndObject();
  out.EndArray().EndObject();
  return out.Text();
}

std::string MembersJson(const ConsoleSnapshot& snapshot, const NetworkView& network) {
  JsonWriter out;
  out.BeginObject();
  Heading(out, snapshot);
  out.Field("network", network.Name).Key("members").BeginArray();
  for (auto& member : network.Members) Member(out, member);
  out.EndArray().EndObject();
  return out.Text();
}

std::string BansJson(const ConsoleSnapshot& snapshot, const NetworkView& network) {
  JsonWriter out;
  out.BeginObject();
  Heading(out, snapshot);
  out.Field("network", network.Name).Key("bans").BeginArray();
  for (auto& ban : network.Bans)
    out.BeginObject()
        .Field("id", ban.Id)
        .Field("address", ban.Address)
        .Field("by", ban.By)
        .Field("reason", ban.Reason)
        .Field("banDate", platform::ToIsoUtc(ban.BanDate))
        .EndObject();
  out.EndArray().EndObject();
  return out.Text();
}

std::string ResultJson(bool ok, const std::string& text) {
  JsonWriter out;
  out.BeginObject().Field("ok", ok).Field(ok ? "message" : "error", text).EndObject();
  return out.Text();
}

std::string ActionJson(const ActionResult& result, bool removes) {
  bool ok = result.What == ActionResult::Outcome::kDone;
  JsonWriter out;
  out.BeginObject().Field("ok", ok).Field(ok ? "message" : "error", result.Message);
  if (removes) out.Field("removed", static_cast<uint64_t>(result.Removed));
  out.EndObject();
  return out.Text();
}

std::string AccessJson(bool tokenConfigured, bool reads, bool actions) {
  JsonWriter out;
  out.BeginObject()
      .Field("tokenConfigured", tokenConfigured)
      .Field("reads", reads)
      .Field("actions", actions)
      .EndObject();
  return out.Text();
}

}  // namespace velmora::console

// The payloads of the wire, read and written by the server, velmora-admin and the tests alike.
#include <gtest/gtest.h>

#include "protocol/AdminPayloads.h"
#include "protocol/Chat.h"
#include "protocol/Position.h"

namespace velmora {
namespace {

using namespace std::string_literals;

TEST(Payloads, BanListEntriesSplitAtTheirZeroBytes) {
  auto entries = ReadBanList("1|::1|Admin|cheating|12/08/26 08:02:28\0"
                              "2|10.0.0.5|Admin|spam|again|12/08/26 08:03:00\0"s);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Id, "1");
  EXPECT_EQ(entries[0].Address, "::1");
  EXPECT_EQ(entries[0].By, "Admin");
  EXPECT_EQ(entries[0].Reason, "cheating");
  EXPECT_EQ(entries[0].When, "12/08/26 08:02:28");
  // A "|" left over is the reason's: the console's bans may hold one, names never do.
  EXPECT_EQ(entries[1].By, "Admin");
  EXPECT_EQ(entries[1].Reason, "spam|again");

  EXPECT_TRUE(ReadBanList("").empty());
  EXPECT_EQ(ReadBanList("3|a|b||d t").size(), 1u);        // last 0x00 missing, empty reason
  EXPECT_TRUE(ReadBanList("garbage\0\0"s).empty());       // too few fields: skipped
}

TEST(Payloads, MemberPositionsTakeTheNameUpToTheLastBar) {
  auto ann = ReadMemberPosition("Ann|1520,2240,1,57,1,0");
  ASSERT_TRUE(ann);
  EXPECT_EQ(ann->Name, "Ann");
  EXPECT_EQ(ann->Report.X, 1520);
  EXPECT_EQ(ann->Report.HP, 57);
  EXPECT_TRUE(ann->Report.InBattle);
  EXPECT_FALSE(ann->Report.IsDead);
  auto odd = ReadMemberPosition("a|b|-5,0,0,0,0,1");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->Name, "a|b");
  EXPECT_EQ(odd->Report.X, -5);
  EXPECT_FALSE(ReadMemberPosition("no bar"));
  EXPECT_FALSE(ReadMemberPosition("Ann|1,2,3"));
}

TEST(Payloads, PositionReportsReadFromTheLeftAndAreWrittenWithTheName) {
  PositionReport report = ReadPositionReport("3.7,4.2,0,50,2,0.5,extra");
  EXPECT_EQ(report, (PositionReport{3, 4, 0, 50, true, true}));
  EXPECT_EQ(ReadPositionReport("10,20"), (PositionReport{10, 20, 0, 0, false, false}));
  EXPECT_FALSE(ReadPositionReport("-1,5,0,0,0,0").Relayable());
  EXPECT_TRUE(ReadPositionReport("0,0,0,0,yes,0").Relayable());
  EXPECT_EQ(MemberPositionText("Ann", {1520, 2240, 1, 57, true, false}), "Ann|1520,2240,1,57,1,0");
  EXPECT_EQ(MemberPositionText("Bo", {-5, 0, 0, 0, false, true}), "Bo|-5,0,0,0,0,1");
}

TEST(Payloads, ChatAndRequestsSplitAtTheirFirstSeparator) {
  EXPECT_EQ(ChatLinePayload("Ann", "hi\0there"s), "Ann\0hi\0there"s);
  auto chat = SplitChatLine("Ann\0hi\0there"s);
  EXPECT_EQ(chat.first, "Ann");
  EXPECT_EQ(chat.second, "hi\0there"s);
  auto request = ReadUserAndReason("Bob|spam|more");
  EXPECT_EQ(request.User, "Bob");
  EXPECT_EQ(request.Reason, "spam");
  EXPECT_EQ(ReadUserAndReason("Bob").Reason, "");
}

}  // namespace
}  // namespace velmora

// How velmora-admin reads the server's texts and shows other users' text on a terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ServerText.h"

namespace velmora::admin {
namespace {

using namespace std::string_literals;

TEST(AdminToolText, BanListEntriesSplitAtTheirZeroBytes) {
  auto entries = ParseBanList("1|::1|Admin|cheating|12/08/26 08:02:28\0"
                              "2|10.0.0.5|Ad|min|spam|12/08/26 08:03:00\0"s);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].id, "1");
  EXPECT_EQ(entries[0].address, "::1");
  EXPECT_EQ(entries[0].by, "Admin");
  EXPECT_EQ(entries[0].reason, "cheating");
  EXPECT_EQ(entries[0].date, "12/08/26 08:02:28");
  // The reason never holds "|" (the server cut it there), so a "|" left over is the name's.
  EXPECT_EQ(entries[1].by, "Ad|min");
  EXPECT_EQ(entries[1].reason, "spam");

  EXPECT_TRUE(ParseBanList("").empty());
  EXPECT_EQ(ParseBanList("3|a|b||d t").size(), 1u);        // last 0x00 missing, empty reason
  EXPECT_TRUE(ParseBanList("garbage\0\0"s).empty());       // too few fields: skipped
}

TEST(AdminToolText, MemberPositionsTakeTheNameUpToTheLastBar) {
  auto ann = ParseMemberPosition("Ann|1520,2240,1,57,1,0");
  ASSERT_TRUE(ann);
  EXPECT_EQ(ann->name, "Ann");
  EXPECT_EQ(ann->x, 1520);
  EXPECT_EQ(ann->hp, 57);
  EXPECT_TRUE(ann->inBattle);
  EXPECT_FALSE(ann->isDead);
  auto odd = ParseMemberPosition("a|b|-5,0,0,0,0,1");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->name, "a|b");
  EXPECT_EQ(odd->x, -5);
  EXPECT_FALSE(ParseMemberPosition("no bar"));
  EXPECT_FALSE(ParseMemberPosition("Ann|1,2,3"));
}

TEST(AdminToolText, PrintableKeepsUtf8AndEscapesControls) {
  EXPECT_EQ(Printable("plain text"), "plain text");
  EXPECT_EQ(Printable("Zo\xC3\xAB \xE2\x82\xAC"), "Zo\xC3\xAB \xE2\x82\xAC");  // ë, €
  EXPECT_EQ(Printable("\x1b]0;owned\x07"), "\\x1b]0;owned\\x07");
  EXPECT_EQ(Printable("a\nb\rc\0d"s), "a\\x0ab\\x0dc\\x00d");
  // C1 controls, a raw CSI byte, a cut sequence and an overlong form are not let through.
  EXPECT_EQ(Printable("\xC2\x9B" "2J"), "\\xc2\\x9b2J");
  EXPECT_EQ(Printable("\x9b" "2J"), "\\x9b2J");
  EXPECT_EQ(Printable("\xE2\x82"), "\\xe2\\x82");
  EXPECT_EQ(Printable("\xC0\xAF"), "\\xc0\\xaf");
  EXPECT_EQ(Printable("\x7f"), "\\x7f");
}

TEST(AdminToolText, TablesLineUpOnTheWidestCell) {
  EXPECT_EQ(FormatTable({{"ID", "NAME"}, {"10", "x"}, {"7", "longer"}}),
            "ID  NAME\n10  x\n7   longer\n");
  auto chat = SplitChat("Ann\0hi\0there"s);
  EXPECT_EQ(chat.first, "Ann");
  EXPECT_EQ(chat.second, "hi\0there"s);
}

}  // namespace
}  // namespace velmora::admin

// How velmora-admin shows other users' text on a terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ServerText.h"

namespace velmora::admin {
namespace {

using namespace std::string_literals;

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
}

}  // namespace
}  // namespace velmora::admin

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "networks/NetworkFiles.h"
#include "networks/NetworkFolderFixture.h"
#include "networks/Registrar.h"
#include "protocol/ServerCounters.h"
#include "support/RunLoop.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

class AddUserToNetworkTest : public testing::NetworkFolderFixture {
 protected:
  // Writes the file and loads it the way start-up does, discarding the load's log lines.
  std::shared_ptr<ServerNetworks> Load(const std::string& content) {
    path_ = WriteNetworkFile("guild.conf", content);
    auto network = modGlobal::ReadNetworkXML(path_);
    log_.Clear();
    return network;
  }

  std::string path_;
};

const char* const kSmallFile =
    "<networks><network name=\"Guild\" enabled=\"1\">"
    "<User Name=\"Bob\" LastIP=\"10.0.0.1\" IsAdmin=\"1\"/>"
    "<User Name=\"Ann\" LastIP=\"10.0.0.2\"/>"
    "<User Name=\"bob\" LastIP=\"10.0.0.3\"/>"
    "</network></networks>";

TEST_F(AddUserToNetworkTest, ANewUserGetsAnElementAndARecord) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);
  auto admins = network->Admins;
  network->AddUserToNetwork("Cy", "10.0.0.5");

  EXPECT_EQ(ReadFile(path_), Replace(kSmallFile, "</network>",
                                     "<User LastIP=\"10.0.0.5\" Name=\"Cy\"/></network>"));
  ASSERT_EQ(network->Users().size(), 4u);
  const VelmoraUser& cy = *network->Users().back();
  EXPECT_EQ(cy.Name, "Cy");
  EXPECT_EQ(cy.LastIP, "10.0.0.5");
  EXPECT_EQ(cy.Path(), path_);
  EXPECT_EQ(cy.UniqueID(), "");
  EXPECT_FALSE(cy.IsAdmin);
  EXPECT_FALSE(cy.IsBanned);
  EXPECT_EQ(network->Admins, admins);
  EXPECT_THAT(network->Bans, IsEmpty());
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(AddUserToNetworkTest, AKnownUserHasEveryElementOfTheNameUpdatedInTheFileOnly) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);
  network->AddUserToNetwork("ANN", "192.168.7.7");
  network->AddUserToNetwork("BOB", "10.0.0.1");  // the administrator from its own address

  std::string expected = Replace(kSmallFile, "10.0.0.2", "192.168.7.7");
  EXPECT_EQ(ReadFile(path_), Replace(expected, "10.0.0.3", "10.0.0.1"));
  // The records keep the address they were loaded with until the next start.
  ASSERT_EQ(network->Users().size(), 3u);
  EXPECT_EQ(network->Users()[1]->LastIP, "10.0.0.2");
  EXPECT_EQ(network->Users()[2]->LastIP, "10.0.0.3");
  EXPECT_THAT(LogLines(), IsEmpty());
}

// Found as an attack: whoever knew the network's password logged in under an administrator's
// name from their own address, the file's "LastIP" became theirs, and after the next start they
// held the rights. An administrator's element now keeps its address; another element of the
// same name is updated as before, and the attempt is logged.
TEST_F(AddUserToNetworkTest, AnAdministratorsElementKeepsItsAddress) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);
  network->AddUserToNetwork("BOB", "10.6.6.6");

  EXPECT_EQ(ReadFile(path_), Replace(kSmallFile, "10.0.0.3", "10.6.6.6"));
  EXPECT_EQ(network->Users().size(), 3u);
  EXPECT_THAT(LogLines(), ElementsAre("10.6.6.6: Admin Address Kept (BOB stays at 10.0.0.1)"));
}

TEST_F(AddUserToNetworkTest, AUserWithoutAddressGetsTheAttributeAppended) {
  auto network = Load("<n><network><User Name=\"Dee\" UID=\"7\"/></network></n>");
  ASSERT_NE(network, nullptr);
  network->AddUserToNetwork("dee", "::1");
  EXPECT_EQ(ReadFile(path_), "<n><network><User Name=\"Dee\" UID=\"7\" LastIP=\"::1\"/></network></n>");
}

TEST_F(AddUserToNetworkTest, ARewriteKeepsEverythingButTheChange) {
  const std::string original =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<!-- Network of the guild; edit with care -->\r\n"
      "<networks>\r\n"
      "  <!-- the network element follows -->\r\n"
      "  <network name=\"Guild &amp; Co\" password=\"p&lt;w\" maxusers=\"10\" enabled=\"1\" "
      "port=\"4500\" motd=\"hello there\">\r\n"
      "    <User Name=\"Ann\" LastIP=\"10.0.0.1\" IsAdmin=\"0\" Colour=\"red\"/>\r\n"
      "    <!-- Bob was banned on Monday -->\r\n"
      "    <User Name=\"Bob\" UID=\"b-7\" IsBanned=\"1\" BanReason=\"said &quot;spam&quot;\"/>\r\n"
      "    <Notes kind=\"free\">keep <b>this</b> text &amp; more<![CDATA[ <raw> ]]></Notes>\r\n"
      "  </network>\r\n"
      "</networks>\r\n"
      "<!-- end -->\r\n";
  auto network = Load(original);
  ASSERT_NE(network, nullptr);
  EXPECT_EQ(network->NetworkName, "Guild & Co");

  network->AddUserToNetwork("ann", "10.0.0.9");
  std::string expected = Replace(original, "LastIP=\"10.0.0.1\"", "LastIP=\"10.0.0.9\"");
  EXPECT_EQ(ReadFile(path_), expected);

  network->AddUserToNetwork("Bob", "10.0.0.8");
  expected = Replace(expected, "&quot;spam&quot;\"/>", "&quot;spam&quot;\" LastIP=\"10.0.0.8\"/>");
  EXPECT_EQ(ReadFile(path_), expected);

  network->AddUserToNetwork("Cy & <Co> \"q\"", "10.0.0.7");
  expected = Replace(expected, "</Notes>\r\n",
                     "</Notes>\r\n    <User LastIP=\"10.0.0.7\" Name=\"Cy &amp; &lt;Co> "
                     "&quot;q&quot;\"/>\r\n");
  EXPECT_EQ(ReadFile(path_), expected);

  auto again = modGlobal::ReadNetworkXML(path_);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->Users().size(), 3u);
  EXPECT_EQ(again->Users()[2]->Name, "Cy & <Co> \"q\"");
  EXPECT_EQ(again->Users()[1]->BanReason(), "said \"spam\"");
}

TEST_F(AddUserToNetworkTest, FreeSpellingSurvivesWithTheSameMeaning) {
  // Single quotes, character references, a document type and spaces inside tags are spelt the
  // usual way afterwards; what the file says, and its comments, stay.
  auto network = Load(
      "<?xml version='1.0'?>\n<!DOCTYPE networks>\n<networks><network  name='Caf&#233;'\n"
      "    port = '7'>\n  <User Name='Ann' LastIP='1.1.1.1' BanDate='1 &lt; 2' ></User>\n"
      "  <!-- keep me -->\n</network></networks>\n");
  ASSERT_NE(network, nullptr);
  network->AddUserToNetwork("Ann", "2.2.2.2");
  network->AddUserToNetwork("Ben", "3.3.3.3");

  std::string text = ReadFile(path_);
  EXPECT_THAT(text, HasSubstr("<?xml version=\"1.0\"?>\n<!DOCTYPE networks>\n<networks>"));
  EXPECT_THAT(text, HasSubstr("<!-- keep me -->\n  <User LastIP=\"3.3.3.3\" Name=\"Ben\"/>\n"));
  auto again = modGlobal::ReadNetworkXML(path_);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->NetworkName, "Caf\xC3\xA9");
  EXPECT_EQ(again->Port, 7);
  ASSERT_EQ(again->Users().size(), 2u);
  EXPECT_EQ(again->Users()[0]->LastIP, "2.2.2.2");
  EXPECT_EQ(again->Users()[0]->BanDate(), "1 < 2");
  EXPECT_EQ(again->Users()[1]->Name, "Ben");
}

TEST_F(AddUserToNetworkTest, AFileInUtf16StaysInUtf16) {
  std::string ascii = "<n>\r\n<network name=\"Wide\">\r\n</network>\r\n</n>\r\n";
  std::string wide = "\xFF\xFE";
  for (char c : ascii) wide += std::string{c, '\0'};
  auto network = Load(wide);
  ASSERT_NE(network, nullptr);
  EXPECT_EQ(network->NetworkName, "Wide");
  network->AddUserToNetwork("Ann", "1.2.3.4");
  std::string text = ReadFile(path_);
  EXPECT_EQ(text.substr(0, 4), std::string("\xFF\xFE<\0", 4));
  auto again = modGlobal::ReadNetworkXML(path_);
  ASSERT_NE(again, nullptr);
  ASSERT_EQ(again->Users().size(), 1u);
  EXPECT_EQ(again->Users()[0]->Name, "Ann");
}

TEST_F(AddUserToNetworkTest, TheFileKeepsItsPermissions) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);
  ::chmod(path_.c_str(), 0640);
  network->AddUserToNetwork("Cy", "10.0.0.5");
  EXPECT_EQ(Mode(path_), 0640u);
}

TEST_F(AddUserToNetworkTest, AReadOnlyFileIsLeftAloneAndEachNewUserIsLogged) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);
  ::chmod(path_.c_str(), 0444);
  network->AddUserToNetwork("Eve\nfake line", "10.0.0.6");
  network->AddUserToNetwork("Eve\nfake line", "10.0.0.6");
  network->AddUserToNetwork("Ann", "10.0.0.7");

  EXPECT_EQ(ReadFile(path_), kSmallFile);
  EXPECT_EQ(Mode(path_), 0444u);
  // The record stays although the file lacks it, so the next log-in adds another.
  ASSERT_EQ(network->Users().size(), 5u);
  EXPECT_EQ(network->Users()[3]->Name, "Eve\nfake line");
  EXPECT_NE(network->Users()[3], network->Users()[4]);
  // A client's name is escaped so that it cannot forge log lines.
  EXPECT_THAT(LogLines(), ElementsAre("Error adding user Eve\\nfake line to network Guild",
                                      "Error adding user Eve\\nfake line to network Guild",
                                      "Error adding user Ann to network Guild"));
  std::vector<std::string> leftovers;
  for (const auto& entry : std::filesystem::directory_iterator(folder_))
    leftovers.push_back(entry.path().filename().string());
  EXPECT_THAT(leftovers, ElementsAre("guild.conf"));
}

// A name the file cannot hold was written as another user's (a NUL byte cut it short, a Latin-1
// or UTF-16 file dropped bytes that are no UTF-8) or so that the file no longer loaded (0xFF in a
// UTF-8 file, 0x01 and 0x1B as "&#01;" and "&#27;", which XML forbids). Such a log-in is handled
// like a failed write: the file stays as it is, the failure is logged, the record stays in memory.
TEST_F(AddUserToNetworkTest, ANameTheFileCannotHoldIsNotWritten) {
  std::string wide = "\xFF\xFE";
  for (char c : std::string("<n><network name=\"W\"></network></n>")) wide += std::string{c, '\0'};
  auto declared = [](const std::string& encoding, const std::string& network) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><n><network name=\"N\">" +
           network + "</network></n>";
  };
  struct Case {
    std::string file;
    std::vector<std::string> refused;
    std::string written;  // a name the file does hold, if any
  };
  const std::string nul("Ann\0x", 5);
  for (const Case& c : {
           Case{kSmallFile, {nul, "Ctl\x01", "Esc\x1B", "Bj\xF6rn", "\xFF"}, "Bj\xC3\xB6rn"},
           Case{declared("ISO-8859-1", ""), {"Bj\xF6rn", "\xE2\x82\xAC"}, "Bj\xC3\xB6rn"},
           Case{declared("US-ASCII", ""), {"Bj\xC3\xB6rn"}, "Bob"},
           Case{wide, {"Bj\xF6rn", "\xEF\xBF\xBF"}, "Bj\xC3\xB6rn"},
           // A character reference Latin-1 cannot write back: the file takes no name at all.
           Case{declared("ISO-8859-1", "<User Name=\"&#x100;\"/>"), {"Bob"}, ""},
       }) {
    auto network = Load(c.file);
    ASSERT_NE(network, nullptr) << c.file;
    size_t users = network->Users().size();
    std::vector<std::string> expected;
    for (const auto& name : c.refused) {
      network->AddUserToNetwork(name, "10.0.0.9");
      expected.push_back("Error adding user " + modGlobal::LogSafe(name) + " to network " +
                         network->NetworkName);
    }
    EXPECT_EQ(ReadFile(path_), c.file);
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(network->Users().size(), users + c.refused.size());
    if (c.written.empty()) continue;
    network->AddUserToNetwork(c.written, "10.0.0.9");
    auto reread = modGlobal::ReadNetworkXML(path_);
    ASSERT_NE(reread, nullptr) << c.file;
    EXPECT_EQ(reread->Users().back()->Name, c.written);
  }
}

TEST_F(AddUserToNetworkTest, NothingHappensWithoutAUsableFile) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);

  std::filesystem::remove(path_);
  network->AddUserToNetwork("Cy", "10.0.0.5");
  EXPECT_FALSE(std::filesystem::exists(path_));

  for (const char* content : {"<networks><network></networks>", "<networks/>", ""}) {
    WriteNetworkFile("guild.conf", content);
    network->AddUserToNetwork("Cy", "10.0.0.5");
    EXPECT_EQ(ReadFile(path_), content);
  }
  EXPECT_EQ(network->Users().size(), 3u);

  ServerNetworks pathless("Pathless", "", 5, true);
  pathless.AddUserToNetwork("Cy", "10.0.0.5");
  EXPECT_THAT(pathless.Users(), IsEmpty());
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(AddUserToNetworkTest, TheRegistrarCountsEveryRewriteAndEveryFailedOne) {
  auto network = Load(kSmallFile);
  ASSERT_NE(network, nullptr);
  ServerCounters counters;
  Registrar registrar(counters);
  int answered = 0;
  registrar.Record(*network, "Cy", "10.0.0.5", [&] { ++answered; });
  ASSERT_TRUE(testing::RunLoopUntil([&] { return answered == 1; }));
  ::chmod(path_.c_str(), 0444);
  registrar.Record(*network, "Dee", "10.0.0.6", [&] { ++answered; });
  ASSERT_TRUE(testing::RunLoopUntil([&] { return answered == 2; }));
  ServerNetworks pathless("Pathless", "", 5, true);
  registrar.Record(pathless, "Cy", "10.0.0.5", [&] { ++answered; });

  EXPECT_EQ(answered, 3);
  EXPECT_EQ(counters.NetworkFileRewrites, 2u);
  EXPECT_EQ(counters.NetworkFileRewriteFailures, 1u);
}

}  // namespace
}  // namespace velmora

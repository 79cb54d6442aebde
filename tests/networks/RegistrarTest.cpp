// Log-ins gathered per network file: one rewrite for the log-ins that arrive together, each
// answered only once the file on disk holds it, and nothing of one log-in spoils another's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "networks/LogInRecords.h"
#include "networks/NetworkFiles.h"
#include "networks/NetworkFolderFixture.h"
#include "networks/Registrar.h"
#include "protocol/ServerCounters.h"
#include "support/RunLoop.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;

const char* const kGuild =
    "<networks><network name=\"Guild\" enabled=\"1\">\n"
    "  <User Name=\"Ann\" LastIP=\"10.0.0.2\"/>\n"
    "</network></networks>\n";

class RegistrarTest : public testing::NetworkFolderFixture {
 protected:
  std::shared_ptr<ServerNetworks> Load(const std::string& file, const std::string& content) {
    auto network = modGlobal::ReadNetworkXML(WriteNetworkFile(file, content));
    log_.Clear();
    return network;
  }

  // Records a log-in; its answer notes the name, and whether the file held it by then.
  void Record(ServerNetworks& network, const std::string& name, const std::string& address) {
    registrar_.Record(network, name, address, [this, &network, name, address] {
      answered_.push_back(name);
      std::string entry = "LastIP=\"" + address + "\" Name=\"" + name + "\"";
      if (ReadFile(network.Path).find(entry) == std::string::npos) early_.push_back(name);
    });
  }

  bool AllAnswered() {
    return testing::RunLoopUntil([this] { return registrar_.Waiting() == 0; });
  }

  ServerCounters counters_;
  Registrar registrar_{counters_};
  std::vector<std::string> answered_;
  std::vector<std::string> early_;  // answered before the file held them
};

TEST_F(RegistrarTest, LogInsThatArriveTogetherShareOneRewriteAndAreAnsweredInOrder) {
  auto guild = Load("guild.conf", kGuild);
  auto other = Load("other.conf", "<n><network name=\"Other\"></network></n>");
  ASSERT_TRUE(guild && other);
  Record(*guild, "Cy", "10.0.0.5");
  Record(*other, "Fay", "10.0.0.8");
  Record(*guild, "Dee", "10.0.0.6");
  Record(*guild, "Eve", "10.0.0.7");
  ASSERT_TRUE(AllAnswered());
  EXPECT_EQ(registrar_.Batches(), 2u);  // one per file

  // Log-ins that come while a rewrite runs wait for the next one, together.
  Record(*guild, "Gus", "10.0.0.9");
  ASSERT_TRUE(testing::RunLoopUntil([this] { return registrar_.Batches() == 3; }));
  Record(*guild, "Hal", "10.0.1.1");
  Record(*guild, "Ivy", "10.0.1.2");
  ASSERT_TRUE(AllAnswered());
  EXPECT_EQ(registrar_.Batches(), 4u);
  EXPECT_EQ(counters_.NetworkFileRewrites, 4u);

  std::vector<std::string> inGuild;
  for (const auto& name : answered_)
    if (name != "Fay") inGuild.push_back(name);
  EXPECT_THAT(inGuild, ElementsAre("Cy", "Dee", "Eve", "Gus", "Hal", "Ivy"));
  EXPECT_TRUE(early_.empty()) << ::testing::PrintToString(early_);
  EXPECT_EQ(guild->Users().size(), 7u);
  EXPECT_EQ(other->Users().size(), 1u);
  // The file keeps its one user a line.
  EXPECT_NE(ReadFile(guild->Path).find("\n  <User LastIP=\"10.0.1.2\" Name=\"Ivy\"/>\n</network>"),
            std::string::npos);
}

TEST_F(RegistrarTest, ALogInTheFileCannotTakeFailsAloneInItsBatch) {
  auto guild = Load("guild.conf", kGuild);
  ASSERT_NE(guild, nullptr);
  const std::string unfit("Ann\0x", 5);
  Record(*guild, unfit, "10.0.0.5");
  Record(*guild, "Cy", "10.0.0.6");
  ASSERT_TRUE(AllAnswered());
  EXPECT_EQ(registrar_.Batches(), 1u);
  EXPECT_EQ(answered_.size(), 2u);
  EXPECT_THAT(early_, ElementsAre(unfit));  // answered, and logged, though never on disk
  EXPECT_EQ(guild->Users().size(), 3u);
  EXPECT_THAT(LogLines(), ElementsAre("Error adding user Ann\\x00x to network Guild"));
}

TEST_F(RegistrarTest, NoRewriteMakesTheFileLargerThanTheServerLoads) {
  std::string path = WriteNetworkFile("guild.conf", kGuild);
  const std::vector<LogInRecord> logIns = {{"Cy", "10.0.0.5"}, {"Ann", "10.0.0.9"}};
  std::string grown = std::string(kGuild).insert(std::string(kGuild).find("</network>"),
                                                 "  <User LastIP=\"10.0.0.5\" Name=\"Cy\"/>\n");

  // One byte short of room for the new user: the known one is still recorded.
  BatchOutcome refused = RecordLogIns(path, logIns, grown.size() - 1);
  EXPECT_TRUE(refused.rewritten);
  EXPECT_TRUE(refused.logIns[0].newUser);
  EXPECT_TRUE(refused.logIns[0].failed);
  EXPECT_FALSE(refused.logIns[1].failed);
  EXPECT_NE(ReadFile(path).find("LastIP=\"10.0.0.9\""), std::string::npos);
  EXPECT_EQ(ReadFile(path).find("Cy"), std::string::npos);

  BatchOutcome taken = RecordLogIns(path, logIns, grown.size());
  EXPECT_FALSE(taken.logIns[0].failed);
  EXPECT_EQ(ReadFile(path).size(), grown.size());
}

}  // namespace
}  // namespace velmora

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "networks/NetworkFiles.h"
#include "networks/NetworkFolderFixture.h"
#include "platform/adapters/FileSystem.h"

namespace velmora {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

std::string NetworkFile(const std::string& name) {
  return "<networks><network name=\"" + name + "\" enabled=\"1\"/></networks>";
}

class LoadNetworksTest : public testing::NetworkFolderFixture {
 protected:
  void Load() { modGlobal::LoadNetworks(folder_, networks_); }

  std::vector<std::string> LoadedNames() const {
    std::vector<std::string> names;
    for (const auto& network : networks_) names.push_back(network->NetworkName);
    return names;
  }

  std::vector<std::shared_ptr<ServerNetworks>> networks_;
};

TEST_F(LoadNetworksTest, AMissingFolderIsCreatedAndNothingLoads) {
  Load();
  EXPECT_TRUE(std::filesystem::is_directory(folder_));
  EXPECT_THAT(networks_, IsEmpty());
  EXPECT_THAT(LogLines(), ElementsAre("Reading Network Files..."));
}

TEST_F(LoadNetworksTest, AnUnknownFolderLoadsNothing) {
  modGlobal::LoadNetworks(std::nullopt, networks_);
  EXPECT_THAT(networks_, IsEmpty());
  EXPECT_THAT(LogLines(),
              ElementsAre("Reading Network Files...", "Error Finding ApplicationData directory."));
}

TEST_F(LoadNetworksTest, LogsEachFileInListingOrderAndGoesOnPastAMalformedOne) {
  std::string alpha = WriteNetworkFile("alpha.conf", NetworkFile("Alpha"));
  WriteNetworkFile("beta.conf", "<networks><network name=\"Beta\"></networks>");
  std::string gamma = WriteNetworkFile("gamma.conf", NetworkFile("Gamma"));
  Load();

  std::vector<std::string> expected{"Reading Network Files..."};
  std::vector<std::string> loaded;
  for (const auto& name : platform::ListFolder(folder_)) {
    if (name == "beta.conf") {
      expected.push_back("<parser message>");
      expected.push_back("Error loading network: beta.conf");
      // The operator learns where: the mismatched end tag begins at the first line's column 34.
      expected.push_back("Error in " + folder_ + "/beta.conf at line 1, column 34: ");
      continue;
    }
    std::string network = name == "alpha.conf" ? "Alpha" : "Gamma";
    expected.push_back("Network loaded: " + (name == "alpha.conf" ? alpha : gamma));
    expected.push_back("Loaded Network: " + network);
    loaded.push_back(network);
  }
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    if (expected[i] == "<parser message>")
      EXPECT_THAT(lines[i], ::testing::Not(::testing::HasSubstr("network"))) << lines[i];
    else if (expected[i].rfind("Error in ", 0) == 0)
      EXPECT_EQ(lines[i], expected[i] + lines[i - 2]);
    else
      EXPECT_EQ(lines[i], expected[i]);
  }
  EXPECT_THAT(LoadedNames(), ElementsAreArray(loaded));
}

TEST_F(LoadNetworksTest, OnlyNamesEndingInConfAreRead) {
  WriteNetworkFile(".hidden.conf", NetworkFile("Hidden"));
  WriteNetworkFile("notes.txt", NetworkFile("Notes"));
  WriteNetworkFile("alpha.conf.bak", NetworkFile("Backup"));
  WriteNetworkFile("NETWORK.CONF", NetworkFile("Upper"));
  WriteNetworkFile("alphaconf", NetworkFile("NoDot"));
  Load();
  EXPECT_THAT(LoadedNames(), ::testing::UnorderedElementsAre("Upper", "NoDot"));
  EXPECT_EQ(LogLines().size(), 5u);  // the heading and two lines for each network
}

TEST_F(LoadNetworksTest, AFolderNamedLikeANetworkFileFailsWithoutAParserMessage) {
  std::filesystem::create_directories(folder_ + "/folder.conf");
  Load();
  EXPECT_THAT(networks_, IsEmpty());
  EXPECT_THAT(LogLines(),
              ElementsAre("Reading Network Files...", "Error loading network: folder.conf",
                          ::testing::StartsWith("Error in " + folder_ + "/folder.conf: cannot be read (")));
}

TEST_F(LoadNetworksTest, NetworksOfTheSameNameAllLoadInListingOrder) {
  WriteNetworkFile("one.conf", "<n><network name=\"Same\" port=\"1\"/></n>");
  WriteNetworkFile("two.conf", "<n><network name=\"Same\" port=\"2\"/></n>");
  networks_.push_back(std::make_shared<ServerNetworks>());  // loading appends, never clears
  Load();
  ASSERT_EQ(networks_.size(), 3u);
  std::vector<int64_t> ports;
  for (const auto& name : platform::ListFolder(folder_)) ports.push_back(name == "one.conf" ? 1 : 2);
  EXPECT_EQ(networks_[1]->Port, ports[0]);
  EXPECT_EQ(networks_[2]->Port, ports[1]);
  EXPECT_EQ(networks_[1]->CurrentUsers, 0);
}

}  // namespace
}  // namespace velmora

#include <gtest/gtest.h>

#include <filesystem>


#include "host/AppSettings.h"
#include "platform/adapters/XmlDocument.h"
#include "support/FileText.h"
#include "support/ScratchFolder.h"

namespace velmora {
namespace {

class AppSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { settings.FilePath = folder + "/velmora.conf"; }
  void Write(const std::string& text) { testing::WriteFile(settings.FilePath, text); }
  std::string Read() { return testing::ReadFile(settings.FilePath); }
  // The (name, value) pairs the file holds, in file order.
  std::vector<std::pair<std::string, std::string>> FileEntries() {
    platform::XmlDocument document;
    EXPECT_TRUE(document.Parse(Read(), false).ok);
    std::vector<std::pair<std::string, std::string>> entries;
    for (auto child = document.Root().FirstChild(); child; child = child.NextSibling()) {
      EXPECT_EQ(child.Name(), "setting");
      entries.emplace_back(child.AttributeOrEmpty("namestring"), child.AttributeOrEmpty("valuestring"));
    }
    return entries;
  }
  testing::ScratchFolder scratch{"velmora-settings"};
  std::string folder = scratch.Path();
  AppSettings settings;
};

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST_F(AppSettingsTest, AMissingFileIsCreatedWithThePortAlone) {
  settings.Load();
  EXPECT_EQ(FileEntries(), (Entries{{"Port", "12000"}}));
  // GetValue stores its default in memory only; the next save writes it.
  EXPECT_EQ(settings.GetValue("AttachedNIC", "02:FC:00:00:00:01"), "02:FC:00:00:00:01");
  EXPECT_EQ(FileEntries(), (Entries{{"Port", "12000"}}));
  settings.Save();
  EXPECT_EQ(FileEntries(), (Entries{{"Port", "12000"}, {"AttachedNIC", "02:FC:00:00:00:01"}}));
}

TEST_F(AppSettingsTest, ReadsAnyChildElementAndTheLaterOfTwoNamesWins) {
  Write("<settings><setting namestring=\"Port\" valuestring=\"1\"/>"
        "<other namestring=\"Extra\" valuestring=\"a&amp;b\"/>"
        "<setting namestring=\"Port\" valuestring=\"2\"/>"
        "<setting namestring=\"AttachedNIC\" valuestring=\"x\"/></settings>");
  settings.Load();
  EXPECT_EQ(settings.GetValue("Port", "?"), "2");
  EXPECT_EQ(settings.GetValue("AttachedNIC", "default"), "x");  // present: nothing stored
  settings.Save();
  EXPECT_EQ(FileEntries(), (Entries{{"Port", "2"}, {"Extra", "a&b"}, {"AttachedNIC", "x"}}));
}

// A reload takes the names it asks for as the file has them now, and a file that is gone or
// empty for a moment neither drops them nor is written.
TEST_F(AppSettingsTest, RereadFollowsTheFileForTheNamesAskedAndOnlyWhenItHasEntries) {
  Write(R"(<settings><setting namestring="A" valuestring="1"/><setting namestring="B" valuestring="2"/></settings>)");
  settings.Load();
  std::filesystem::remove(settings.FilePath);
  EXPECT_FALSE(settings.Reread({"A", "B"}));
  EXPECT_FALSE(std::filesystem::exists(settings.FilePath));
  Write("<settings/>");
  EXPECT_FALSE(settings.Reread({"A", "B"}));
  EXPECT_EQ(settings.Find("A"), "1");
  Write(R"(<settings><setting namestring="A" valuestring="3"/><setting namestring="C" valuestring="4"/></settings>)");
  EXPECT_TRUE(settings.Reread({"A", "B"}));
  EXPECT_EQ(settings.Values, (Entries{{"A", "3"}}));
}

TEST_F(AppSettingsTest, AMalformedFileIsReplacedByTheStoreOnTheNextSave) {
  Write("<settings><setting namestring=\"Port\"");
  settings.Load();
  EXPECT_TRUE(settings.Values.empty());
  settings.GetValue("AttachedNIC", "");
  settings.Save();
  EXPECT_EQ(FileEntries(), (Entries{{"AttachedNIC", ""}}));
}

TEST_F(AppSettingsTest, AnUnwritableFileLeavesTheStoreInMemory) {
  settings.FilePath = folder + "/missing-folder/velmora.conf";
  settings.Load();  // cannot create it: the store keeps the default entry, nothing is thrown
  EXPECT_EQ(settings.GetValue("Port", "?"), "12000");
}

}  // namespace
}  // namespace velmora

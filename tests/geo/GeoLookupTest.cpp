#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "geo/GeoLookup.h"
#include "platform/adapters/FileSystem.h"
#include "support/FakeHttpService.h"
#include "support/RunLoop.h"
#include "support/ScratchFolder.h"
#include "support/TinyGif.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

const std::string kLocation =
    "<html><head>\r\n"
    "<meta name=\"country\" content=\"France\">\r\n"
    "<meta name=\"regioncode\" content=\"IDF\">\r\n"
    "\t<meta name=\"City\" content=\"Paris\">\r\n"
    "<meta name=\"cityid\" content=\"7501\">\r\n"
    "<meta name=\"timezone\" content=\"+01:00\">\r\n"
    "</head></html>\r\n";

class GeoLookupTest : public ::testing::Test {
 protected:
  void SetUp() override { lookup.SetFlagFolder(folder); }

  // Runs one lookup to its end.
  ClientLocation LocateNow(const std::string& address) {
    std::optional<ClientLocation> got;
    auto ticket = lookup.Locate(address, [&](const ClientLocation& where) { got = where; });
    EXPECT_TRUE(RunLoopUntil([&] { return got.has_value(); }));
    if (!got) lookup.Cancel(ticket);
    return got.value_or(ClientLocation{});
  }

  std::string FlagFile() const { return platform::JoinPath(folder, GeoLookup::kFlagFileName); }

  ScratchFolder scratch{"velmora-geo"};
  std::string folder = scratch.Path();
  ServerCounters counters;
  GeoLookup lookup{counters};
};

TEST_F(GeoLookupTest, AsksBothServicesAndFillsTheLocationAndFlag) {
  FakeHttpService geo([](auto&, int) { return FakeReply::WithLength(kLocation, 10s); });
  FakeHttpService flags([](auto&, int) { return FakeReply::UntilClose(OneRedPixelGif()); });
  lookup.SetHosts(geo.Host(), flags.Host());

  ClientLocation where = LocateNow("192.0.2.7");
  EXPECT_EQ(where.Country, "France");
  EXPECT_EQ(where.State, "IDF");
  EXPECT_EQ(where.City, "Paris");
  EXPECT_EQ(where.Zip, "07501");
  EXPECT_EQ(where.TimeZone, "+01:00");
  ASSERT_TRUE(where.Flag);
  EXPECT_EQ(where.Flag->Pixels, std::vector<uint32_t>{0xFFFF0000});

  ASSERT_EQ(geo.Requests().size(), 1u);
  EXPECT_EQ(geo.Requests()[0].rfind(
                "GET /IpLocator.htm?GetLocation&template=php3.txt&IpAddress=192.0.2.7 HTTP/1.0",
                0),
            0u);
  ASSERT_EQ(flags.Requests().size(), 1u);
  EXPECT_EQ(flags.Requests()[0].rfind("GET /flag.php?ip=192.0.2.7 HTTP/1.0", 0), 0u);
  // The last flag is kept on disk, for its owner only.
  EXPECT_EQ(platform::ReadWholeFile(FlagFile()), OneRedPixelGif());
  struct stat info {};
  ASSERT_EQ(::lstat(FlagFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(GeoLookupTest, AnswersLaterEvenWithBothServicesOff) {
  bool ran = false;
  lookup.Locate("192.0.2.1", [&](const ClientLocation& where) {
    ran = true;
    EXPECT_FALSE(where.Country || where.City || where.Flag);
  });
  EXPECT_FALSE(ran) << "the answer never comes inside Locate";
  EXPECT_TRUE(RunLoopUntil([&] { return ran; }));
  EXPECT_FALSE(platform::FileExists(FlagFile()));
}

TEST_F(GeoLookupTest, FailingServicesLeaveTheFieldsEmpty) {
  FakeHttpService flags([](auto&, int) { return FakeReply::UntilClose("<h1>no flag</h1>"); });
  lookup.SetHosts(RefusingHost(), flags.Host());
  ClientLocation where = LocateNow("192.0.2.2");
  EXPECT_FALSE(where.Country || where.State || where.City || where.Zip || where.TimeZone);
  EXPECT_FALSE(where.Flag) << "a body that is no GIF gives no picture";
  EXPECT_EQ(platform::ReadWholeFile(FlagFile()), "<h1>no flag</h1>");
}

TEST_F(GeoLookupTest, ALinkPlantedAtTheFlagFileIsReplacedNotFollowed) {
  std::string victim = platform::JoinPath(folder, "victim");
  platform::WriteFileAtomically(victim, "keep me");
  ASSERT_EQ(::chmod(victim.c_str(), 0666), 0);
  ASSERT_EQ(::symlink(victim.c_str(), FlagFile().c_str()), 0);

  FakeHttpService flags([](auto&, int) { return FakeReply::UntilClose(OneRedPixelGif()); });
  lookup.SetHosts("", flags.Host());
  EXPECT_TRUE(LocateNow("192.0.2.4").Flag);

  EXPECT_EQ(platform::ReadWholeFile(victim), "keep me");
  struct stat info {};
  ASSERT_EQ(::lstat(FlagFile().c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "the link's target lends the file nothing";
  EXPECT_EQ(platform::ReadWholeFile(FlagFile()), OneRedPixelGif());
}

TEST_F(GeoLookupTest, CancelDropsTheResultAndHangsUp) {
  FakeHttpService mute([](auto&, int) { return FakeReply::Silent(10s); });
  lookup.SetHosts(mute.Host(), "");
  lookup.SetMaxInFlight(1);
  // Short waits, so that the test can see them pass without sitting out the real ones.
  constexpr auto kWait = 300ms;
  lookup.SetTimings({.Inactivity = kWait, .MaxQueueWait = kWait});
  bool ran = false;
  auto first = lookup.Locate("192.0.2.5", [&](const ClientLocation&) { ran = true; });
  auto queued = lookup.Locate("192.0.2.6", [&](const ClientLocation&) { ran = true; });
  ASSERT_TRUE(RunLoopUntil([&] { return mute.OpenConnections() == 1; }, 5s));
  EXPECT_EQ(lookup.QueuedCount(), 1u);
  lookup.Cancel(queued);
  lookup.Cancel(first);
  EXPECT_EQ(lookup.InFlightCount(), 0u);
  EXPECT_EQ(lookup.QueuedCount(), 0u);
  EXPECT_TRUE(RunLoopUntil([&] { return mute.OpenConnections() == 0; }, 5s));
  RunLoopFor(2 * kWait);  // past the inactivity wait, and the queued lookup's wait for a turn
  EXPECT_FALSE(ran);
  EXPECT_EQ(mute.Requests().size(), 1u) << "the queued lookup never went out";
}

TEST_F(GeoLookupTest, LookupsBeyondTheCapWaitTheirTurn) {
  FakeHttpService geo([](auto&, int number) {
    FakeReply reply = FakeReply::UntilClose("<meta name=\"city\" content=\"C" +
                                            std::to_string(number) + "\">");
    reply.chunks[0].delay = 100ms;
    return reply;
  });
  lookup.SetHosts(geo.Host(), "");
  lookup.SetMaxInFlight(2);
  std::vector<std::string> cities;
  for (int i = 0; i < 5; ++i)
    lookup.Locate("192.0.2." + std::to_string(10 + i),
                  [&](const ClientLocation& where) { cities.push_back(where.City.value_or("")); });
  EXPECT_EQ(lookup.InFlightCount(), 2u);
  EXPECT_EQ(lookup.QueuedCount(), 3u);
  EXPECT_TRUE(RunLoopUntil([&] { return cities.size() == 5; }));
  EXPECT_LE(geo.MostOpenConnections(), 2);
  EXPECT_EQ(geo.Requests().size(), 5u);
  for (auto& city : cities) EXPECT_EQ(city.rfind("C", 0), 0u) << city;
}

}  // namespace
}  // namespace velmora::testing

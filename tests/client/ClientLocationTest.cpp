#include <gtest/gtest.h>

#include <algorithm>

#include "client/ClientSocket.h"
#include "support/FakeHttpService.h"
#include "support/GeoReplies.h"
#include "support/LocatedServerTest.h"
#include "support/RunLoop.h"
#include "support/TinyGif.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

class ClientLocation : public LocatedServerTest {
 protected:
  std::vector<std::shared_ptr<ClientSocket>> Connections() { return Sessions(listener); }
};

TEST_F(ClientLocation, ASlowLookupDelaysOnlyItsOwnConnectionsPrompt) {
  // Both clients come from 127.0.0.1; the service answers the first request slowly.
  FakeHttpService geo([](auto&, int number) {
    return number == 0 ? Trickle("Slowland", 5ms) : Country("Quickland");
  });
  FakeHttpService flags([](auto&, int) { return FakeReply::UntilClose(OneRedPixelGif()); });
  lookup.SetHosts(geo.Host(), flags.Host());

  Peer first(listener);
  ASSERT_TRUE(RunLoopUntil([&] { return geo.Requests().size() == 1; }));
  first.Send(1, "Lobby");  // sent early: it waits until the prompt has gone out
  Peer second(listener);

  auto prompt = second.Receive(5000);
  ASSERT_TRUE(prompt);
  EXPECT_EQ(prompt->command, 1);
  EXPECT_EQ(prompt->data, "Network");
  EXPECT_TRUE(first.Silent(10)) << "the first client is still being looked up";

  geo.Release();
  auto late = first.Receive(5000);
  ASSERT_TRUE(late);
  EXPECT_EQ(late->command, 1);
  auto selected = first.Receive();
  ASSERT_TRUE(selected);
  EXPECT_EQ(selected->command, 2);
  EXPECT_EQ(selected->data, "OK");

  auto connections = Connections();
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[0]->Location().Country.value_or(""), "Slowland");
  EXPECT_EQ(connections[1]->Location().Country.value_or(""), "Quickland");
  ASSERT_TRUE(connections[0]->Location().Flag);
  EXPECT_EQ(connections[0]->Location().Flag->Width, 1);
  EXPECT_EQ(geo.Requests()[0].rfind(
                "GET /IpLocator.htm?GetLocation&template=php3.txt&IpAddress=127.0.0.1 ", 0),
            0u);
}

TEST_F(ClientLocation, AConnectionThatEndsDuringItsLookupIsDroppedCleanly) {
  FakeHttpService geo([](auto&, int) { return FakeReply::Silent(10s); });
  lookup.SetHosts(geo.Host(), "");
  // A short inactivity wait, so that the test can see it pass.
  constexpr auto kInactivity = 300ms;
  lookup.SetTimings({.Inactivity = kInactivity});
  {
    Peer leaving(listener);
    ASSERT_TRUE(RunLoopUntil([&] { return geo.OpenConnections() == 1; }));
  }
  ASSERT_TRUE(RunLoopUntil([&] { return listener.ActiveConnections().empty(); }));
  EXPECT_TRUE(RunLoopUntil([&] { return geo.OpenConnections() == 0; }))
      << "the lookup of the gone connection is given up";
  RunLoopFor(2 * kInactivity);  // past the moment its answer would have come

  auto log = server.LogLines();
  EXPECT_NE(std::find(log.begin(), log.end(), "Client Disconnect: (102) "), log.end());
  // The server goes on: the next client is located and prompted.
  FakeHttpService answering([](auto&, int) { return Country("Nextland"); });
  lookup.SetHosts(answering.Host(), "");
  Peer next(listener);
  auto prompt = next.Receive(5000);
  ASSERT_TRUE(prompt);
  EXPECT_EQ(prompt->command, 1);
  EXPECT_EQ(Connections().at(0)->Location().Country.value_or(""), "Nextland");
}

}  // namespace
}  // namespace velmora::testing

// The location and flag services failing: refusing connections, resetting them halfway through
// a reply, or trickling a reply out a byte at a time. Every connection still gets its prompt
// and logs in; a service that trickles holds up only the connection it is asked about. The
// binary is built with the lookups off, so these run in-process.
#include <gtest/gtest.h>

#include <algorithm>

#include "client/ClientSocket.h"
#include "support/FakeHttpService.h"
#include "support/GeoReplies.h"
#include "support/LocatedServerTest.h"
#include "support/RunLoop.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

constexpr int kClients = 6;

class FaultGeo : public LocatedServerTest {
 protected:
  // Clients that connect together, then log in one after the other.
  void EveryClientLogsIn(int count) {
    std::vector<std::unique_ptr<Peer>> clients;
    for (int i = 0; i < count; ++i) clients.push_back(std::make_unique<Peer>(listener));
    for (int i = 0; i < count; ++i) {
      SCOPED_TRACE("client " + std::to_string(i));
      ASSERT_TRUE(clients[i]->LogIn("Lobby", "secret", "User" + std::to_string(i)));
    }
    for (auto& connection : Sessions(listener)) {
      EXPECT_TRUE(connection->IsMember());
      EXPECT_EQ(connection->Location().Country.value_or(""), "");
      EXPECT_FALSE(connection->Location().Flag);
    }
  }

  uint64_t Lookups(LookupOutcome outcome) const {
    return counters.LocationLookups[static_cast<size_t>(outcome)];
  }
};

TEST_F(FaultGeo, ServicesThatRefuseConnectionsLeaveTheLocationEmpty) {
  lookup.SetHosts(RefusingHost(), RefusingHost());
  EveryClientLogsIn(kClients);
  EXPECT_EQ(Lookups(LookupOutcome::kFailed), static_cast<uint64_t>(kClients));
}

TEST_F(FaultGeo, ServicesThatResetHalfwayThroughAReplyLeaveTheLocationEmpty) {
  auto resetting = [](auto&, int) {
    FakeReply reply;
    reply.chunks.push_back({{}, "HTTP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n<meta name="});
    reply.end = FakeReply::End::kReset;
    return reply;
  };
  FakeHttpService geo(resetting);
  FakeHttpService flags(resetting);
  lookup.SetHosts(geo.Host(), flags.Host());
  EveryClientLogsIn(kClients);
  EXPECT_EQ(geo.Requests().size(), static_cast<size_t>(kClients));
  EXPECT_EQ(Lookups(LookupOutcome::kFailed), static_cast<uint64_t>(kClients));
}

TEST_F(FaultGeo, ATricklingServiceHoldsUpOnlyTheConnectionItIsAskedAbout) {
  // The first request trickles until the others are in; they are answered at once.
  FakeHttpService geo([](auto&, int number) {
    return number == 0 ? Trickle("Dripland", 5ms) : Country("Quickland");
  });
  lookup.SetHosts(geo.Host(), "");

  Peer slow(listener);
  ASSERT_TRUE(RunLoopUntil([&] { return geo.Requests().size() == 1; }));
  auto asked = std::chrono::steady_clock::now();  // the lookup was asked before this
  slow.Send(1, "Lobby");  // waits for the prompt, like every message before it
  std::vector<std::unique_ptr<Peer>> others;
  for (int i = 0; i < kClients; ++i) {
    others.push_back(std::make_unique<Peer>(listener));
    ASSERT_TRUE(others.back()->LogIn("Lobby", "secret", "Quick" + std::to_string(i)));
  }
  EXPECT_TRUE(slow.Silent(10)) << "the trickle is not over yet";
  auto trickled = std::chrono::steady_clock::now() - asked;  // and it is answered after this
  geo.Release();

  auto prompt = slow.Receive(15000);
  ASSERT_TRUE(prompt);
  EXPECT_EQ(prompt->command, 1);
  auto selected = slow.Receive();
  ASSERT_TRUE(selected);
  EXPECT_EQ(selected->data, "OK");
  auto connections = Sessions(listener);
  std::sort(connections.begin(), connections.end(),
            [](auto& a, auto& b) { return a->AcceptSequence() < b->AcceptSequence(); });
  ASSERT_EQ(connections.size(), static_cast<size_t>(kClients + 1));
  EXPECT_EQ(connections[0]->Location().Country.value_or(""), "Dripland");
  for (size_t i = 1; i < connections.size(); ++i)
    EXPECT_EQ(connections[i]->Location().Country.value_or(""), "Quickland");
  EXPECT_EQ(Lookups(LookupOutcome::kLocated), static_cast<uint64_t>(kClients + 1));
  EXPECT_GE(counters.LocationLookupMicroseconds,
            static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(trickled).count()))
      << "the time counted covers the trickle";
}

// A service that trickles for everyone fills every slot for lookups; a connection that comes
// next waits a little for a slot, then goes on without its location instead of waiting for
// the others' lookups to end.
TEST_F(FaultGeo, AConnectionQueuedBehindTricklingLookupsIsPromptedWithoutALocation) {
  // Each trickle lasts until the test releases it, well past the wait for a slot, which is
  // short here so that the test need not sit out the real one.
  FakeHttpService geo([](auto&, int number) {
    return number < 4 ? Trickle("Dripland", 5ms) : Country("Quickland");
  });
  lookup.SetHosts(geo.Host(), "");
  lookup.SetTimings({.MaxQueueWait = 300ms});
  std::vector<std::unique_ptr<Peer>> slow;
  for (size_t i = 0; i < GeoLookup::kDefaultMaxInFlight; ++i)
    slow.push_back(std::make_unique<Peer>(listener));
  ASSERT_TRUE(RunLoopUntil([&] { return geo.Requests().size() == slow.size(); }));

  Peer queued(listener);
  auto prompt = queued.Receive(4000);
  ASSERT_TRUE(prompt) << "a connection behind the trickles waited for them";
  EXPECT_EQ(prompt->command, 1);
  for (auto& client : slow) EXPECT_TRUE(client->Silent(1)) << "the trickles are not over yet";
  EXPECT_EQ(geo.Requests().size(), slow.size()) << "the queued lookup was never asked";
  EXPECT_EQ(Lookups(LookupOutcome::kGaveUpWaiting), 1u);

  // The trickled connections get their prompts once their own lookups end.
  geo.Release();
  for (auto& client : slow) {
    auto late = client->Receive(15000);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->command, 1);
  }
}

}  // namespace
}  // namespace velmora::testing

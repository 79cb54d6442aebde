#pragma once
// Base fixture of the scenarios that need the server's behaviour but not its binary: the server
// in-process on simulated time, so that waiting out a silence costs nothing, and the checks an
// end-to-end test makes of its clients, made of in-memory peers instead.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "networks/ServerNetworks.h"
#include "networks/VelmoraUser.h"
#include "server/MapSocket.h"
#include "support/ServerHarness.h"
#include "support/WireClient.h"

namespace velmora::testing {

// Sends `command` with `data` and checks that the answer is `answerCode` with `answer`.
inline ::testing::AssertionResult Step(Peer& peer, int32_t command, std::string_view data,
                                       int32_t answerCode, std::string_view answer) {
  peer.Send(command, data);
  auto reply = peer.Receive();
  if (reply && *reply == Message{answerCode, std::string(answer)})
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "code " << command << " answered " << Describe(reply)
                                       << ", expected code " << answerCode << " \"" << answer
                                       << "\"";
}

// True when nothing arrives for `ms` of the loop's time.
inline ::testing::AssertionResult ExpectNothing(Peer& peer, int ms = 200) {
  auto message = peer.Receive(ms);
  if (!message) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "unexpected " << Describe(message);
}

inline ::testing::AssertionResult ExpectPrompt(Peer& peer) {
  auto prompt = peer.Receive();
  if (prompt && *prompt == Message{1, "Network"}) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "prompt: " << Describe(prompt);
}

class InProcessTest : public ::testing::Test {
 protected:
  InProcessTest() : InProcessTest(ServerHarness::Options{}) {}
  // `options`: simulated time is always on.
  explicit InProcessTest(ServerHarness::Options options)
      : server((options.simulatedTime = true, options)) {}

  // A peer that has logged in; a failed log-in fails the test.
  std::unique_ptr<Peer> Member(MapSocket& listener, const std::string& network,
                               const std::string& password, const std::string& user,
                               const std::string& address = "127.0.0.1") {
    auto peer = std::make_unique<Peer>(listener, address);
    EXPECT_TRUE(peer->LogIn(network, password, user)) << "log-in of " << user;
    return peer;
  }

  // A record of `network` that makes `name` its administrator from `address`.
  static void AddAdmin(ServerNetworks& network, const std::string& name,
                       const std::string& address = "127.0.0.1") {
    auto admin = std::make_shared<VelmoraUser>();
    admin->Name = name;
    admin->LastIP = address;
    admin->IsAdmin = true;
    network.AddUser(admin);
    network.Admins.push_back(admin);
  }

  // A peer that has had its prompt.
  std::unique_ptr<Peer> Prompted(MapSocket& listener, const std::string& address = "127.0.0.1") {
    auto peer = std::make_unique<Peer>(listener, address);
    EXPECT_TRUE(ExpectPrompt(*peer));
    return peer;
  }

  ServerHarness server;
};

// Two networks, each with its administrator (Boss of Lobby, Ref of Arena), on two listeners: the
// set-up of the tests of what an administrator's command reaches.
class TwoNetworksWithAdmins : public InProcessTest {
 protected:
  void SetUp() override {
    AddAdmin(lobby, "Boss");
    AddAdmin(arena, "Ref");
  }

  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  ServerNetworks& arena = server.AddNetwork("Arena", "other");
  MapSocket& first = server.AddListener();
  MapSocket& second = server.AddListener();
};

}  // namespace velmora::testing

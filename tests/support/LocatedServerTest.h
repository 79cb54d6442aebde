#pragma once
// Base fixture of the tests that script the location and flag services: the in-process server
// with the real lookups, one network and one listener. Flags go to a folder of the test's own.
#include <gtest/gtest.h>

#include "geo/GeoLookup.h"
#include "server/MapSocket.h"
#include "support/ScratchFolder.h"
#include "support/ServerHarness.h"

namespace velmora::testing {

class LocatedServerTest : public ::testing::Test {
 protected:
  LocatedServerTest() { lookup.SetFlagFolder(flags.Path()); }

  ScratchFolder flags{"velmora-flags"};
  ServerCounters counters;
  GeoLookup lookup{counters};
  ServerHarness server{&lookup};
  ServerNetworks& lobby = server.AddNetwork("Lobby", "secret");
  MapSocket& listener = server.AddListener();
};

}  // namespace velmora::testing
